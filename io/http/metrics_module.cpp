// The HTTP server of the metrics endpoint (see io/metrics_server.h), a
// module of its own so that only runs that listen load cpp-httplib and the
// TLS library it brings.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <httplib.h>

#include "io/metrics_server.h"

namespace nrvq {
namespace {

struct Server {
    httplib::Server http;
    std::thread thread;
    std::atomic<bool> done{false};
};

void* bindTo(const std::string& host, int port) {
    auto server = std::make_unique<Server>();
    // A scrape now and then: two threads are plenty.
    server->http.new_task_queue = [] { return new httplib::ThreadPool(2); };
    if (!server->http.bind_to_port(host, port)) return nullptr;
    return server.release();
}

// Starts the thread that answers requests (none before the handlers are in).
void listen(Server& server) {
    server.thread = std::thread([&server] {
        server.http.listen_after_bind();
        server.done.store(true);
    });
}

void serve(void* handle, std::function<std::string()> metrics, std::function<bool()> healthy) {
    auto& server = *static_cast<Server*>(handle);
    server.http.Get("/metrics", [metrics = std::move(metrics)](const httplib::Request&, httplib::Response& response) {
        response.set_content(metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    server.http.Get("/healthz", [healthy = std::move(healthy)](const httplib::Request&, httplib::Response& response) {
        const bool up = healthy();
        response.status = up ? 200 : 503;
        response.set_content(up ? "ok\n" : "not analysing\n", "text/plain");
    });
    listen(server);
}

void stop(void* handle) {
    std::unique_ptr<Server> server(static_cast<Server*>(handle));
    // The server closes its socket when its loop ends: one that never
    // served runs its loop only to stop it.
    if (!server->thread.joinable()) listen(*server);
    // A stop before the loop runs would be missed.
    while (!server->http.is_running() && !server->done.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    server->http.stop();
    server->thread.join();
}

constexpr MetricsModule kModule{kMetricsModuleAbi, &bindTo, &serve, &stop};

}  // namespace
}  // namespace nrvq

extern "C" __attribute__((visibility("default"))) const nrvq::MetricsModule* nrvq_metrics_module() {
    return &nrvq::kModule;
}
