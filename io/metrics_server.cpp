#include "io/metrics_server.h"

#include "io/live_stats.h"
#include "io/module.h"
#include "io/sink.h"

namespace nrvq {
namespace {

const LoadedModule<MetricsModule>& loaded() {
    static const LoadedModule<MetricsModule> module = loadModule<MetricsModule>(
        "nrvq-metrics.so", "nrvq_metrics_module", "the metrics module",
        [](const MetricsModule& table) { return table.abi == kMetricsModuleAbi; });
    return module;
}

}  // namespace

MetricsServer::MetricsServer(const std::string& host, int port) {
    const std::string address =
        (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
    const MetricsModule* module = loaded().table;
    if (module == nullptr) throw OutputError("--listen " + address + ": " + loaded().why);
    server_ = module->bind(host, port);
    if (server_ == nullptr) {
        throw OutputError("--listen " + address + ": cannot listen there (the port is taken, or the address is "
                          "not this machine's)");
    }
}

void MetricsServer::serve(const LiveStats& stats) {
    loaded().table->serve(
        server_, [&stats] { return stats.metrics(); }, [&stats] { return stats.healthy(); });
}

MetricsServer::~MetricsServer() { loaded().table->stop(server_); }

}  // namespace nrvq
