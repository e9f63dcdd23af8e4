// The metrics endpoint of --listen: GET /metrics answers with the Prometheus
// text exposition of a LiveStats, GET /healthz with 200 while frames are
// analysed and a live input delivers, 503 otherwise. Served by its own
// thread; every answer is made under the stats' lock. The HTTP server lives
// in a shared module, nrvq-metrics.so, opened only when a run listens: its
// libraries (TLS among them) would otherwise cost every run's start-up most
// of its time.
#pragma once

#include <functional>
#include <string>

namespace nrvq {

class LiveStats;

class MetricsServer {
public:
    // Binds host:port. Throws OutputError naming the address when it
    // cannot bind, or when the module is missing.
    MetricsServer(const std::string& host, int port);
    // Starts serving stats, which must outlive the server.
    void serve(const LiveStats& stats);
    // Stops serving and joins the thread.
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

private:
    void* server_ = nullptr;  // the module's
};

// What the module hands the command line. abi goes up whenever the table
// changes.
inline constexpr int kMetricsModuleAbi = 1;
struct MetricsModule {
    int abi;
    // Binds host:port; null when it cannot.
    void* (*bind)(const std::string& host, int port);
    // Serves, on threads of its own, GET /metrics with metrics() and GET
    // /healthz with 200 or 503 as healthy() says.
    void (*serve)(void* server, std::function<std::string()> metrics, std::function<bool()> healthy);
    // Stops serving, joins the threads and closes the socket, served or not.
    void (*stop)(void* server);
};

}  // namespace nrvq

// The module's one entry point.
extern "C" const nrvq::MetricsModule* nrvq_metrics_module();
