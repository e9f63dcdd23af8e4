#include "io/metrics_server.h"

#include <cerrno>
#include <cstring>
#include <atomic>
#include <chrono>
#include <thread>

#include <httplib.h>

#include "io/live_stats.h"
#include "io/sink.h"

namespace nrvq {

struct MetricsServer::State {
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> done{false};
};

MetricsServer::MetricsServer(const LiveStats& stats, const std::string& host, int port)
    : state_(std::make_unique<State>()) {
    httplib::Server& server = state_->server;
    // A scrape now and then: two threads are plenty.
    server.new_task_queue = [] { return new httplib::ThreadPool(2); };
    server.Get("/metrics", [&stats](const httplib::Request&, httplib::Response& response) {
        response.set_content(stats.metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get("/healthz", [&stats](const httplib::Request&, httplib::Response& response) {
        const bool healthy = stats.healthy();
        response.status = healthy ? 200 : 503;
        response.set_content(healthy ? "ok\n" : "not analysing\n", "text/plain");
    });
    // Bound here, so that a port in use is reported before the run starts.
    if (!server.bind_to_port(host, port)) {
        const std::string address = (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                                    std::to_string(port);
        throw OutputError("--listen " + address + ": cannot listen there (the port is taken, or the address is "
                          "not this machine's)");
    }
    state_->thread = std::thread([this] {
        state_->server.listen_after_bind();
        state_->done.store(true);
    });
}

MetricsServer::~MetricsServer() {
    // A stop before the loop runs would be missed.
    while (!state_->server.is_running() && !state_->done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    state_->server.stop();
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
}

}  // namespace nrvq
