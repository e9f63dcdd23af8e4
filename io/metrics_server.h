// The metrics endpoint of --listen: GET /metrics answers with the Prometheus
// text exposition of a LiveStats, GET /healthz with 200 while frames are
// analysed and a live input delivers, 503 otherwise. Served by its own
// thread; every answer is made under the stats' lock.
#pragma once

#include <memory>
#include <string>

namespace nrvq {

class LiveStats;

class MetricsServer {
public:
    // Binds host:port and starts serving. Throws OutputError naming the
    // address when it cannot bind.
    MetricsServer(const LiveStats& stats, const std::string& host, int port);
    // Stops serving and joins the thread.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace nrvq
