#include "io/metrics_server.h"

#include "io/live_stats.h"
#include "io/module.h"
#include "io/sink.h"

namespace nrvq {
namespace {

struct Loaded {
    const MetricsModule* module = nullptr;
    std::string why;
};

Loaded load() {
    Loaded loaded;
    using Entry = const MetricsModule* (*)();
    const auto entry = reinterpret_cast<Entry>(
        openModuleEntry("nrvq-metrics.so", "nrvq_metrics_module", "the metrics module", &loaded.why));
    if (entry == nullptr) return loaded;
    const MetricsModule* module = entry();
    if (module == nullptr || module->abi != kMetricsModuleAbi) {
        loaded.why = "the metrics module nrvq-metrics.so belongs to another build of nrvq";
        return loaded;
    }
    loaded.module = module;
    return loaded;
}

const Loaded& loaded() {
    static const Loaded module = load();
    return module;
}

}  // namespace

MetricsServer::MetricsServer(const std::string& host, int port) {
    const std::string address =
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    const MetricsModule* module = loaded().module;
    if (module == nullptr) throw OutputError("--listen " + address + ": " + loaded().why);
    server_ = module->bind(host, port);
    if (server_ == nullptr) {
        throw OutputError("--listen " + address + ": cannot listen there (the port is taken, or the address is "
                          "not this machine's)");
    }
}

void MetricsServer::serve(const LiveStats& stats) {
    loaded().module->serve(
        server_, [&stats] { return stats.metrics(); }, [&stats] { return stats.healthy(); });
}

MetricsServer::~MetricsServer() { loaded().module->stop(server_); }

}  // namespace nrvq
