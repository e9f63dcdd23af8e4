#include "cli/outputs.h"

#include <unistd.h>

#include <cstdio>

#include "io/data_output.h"
#include "io/events_output.h"
#include "io/report.h"

namespace nrvq::cli {

bool consoleShown(const Options& o) {
    return !o.quiet && o.indicators.all() && o.jsonPath != "-" && o.csvPath != "-" && o.eventsPath != "-";
}

ExtraOutputs::ExtraOutputs(const Options& o, std::vector<std::unique_ptr<FrameSink>>& sinks)
    : summary_(o.summary), summaryToStderr_(o.jsonPath == "-" || o.csvPath == "-" || o.eventsPath == "-") {
    auto events = std::make_unique<EventLog>(o.rules);
    events_ = events.get();
    sinks.push_back(std::move(events));
    if (o.summary || !o.jsonPath.empty() || !o.reportPath.empty()) {
        auto table = std::make_unique<ResultTable>(o.indicators);
        table_ = table.get();
        table_->setEvents(events_);
        sinks.push_back(std::move(table));
    }
    if (!o.jsonPath.empty()) {
        sinks.push_back(std::make_unique<JsonOutput>(o.jsonPath, *table_, kVersion));
    }
    if (!o.csvPath.empty()) {
        sinks.push_back(std::make_unique<CsvOutput>(o.csvPath, o.indicators));
    }
    if (!o.reportPath.empty()) {
        sinks.push_back(std::make_unique<HtmlReport>(o.reportPath, *table_, kVersion));
    }
    if (!o.eventsPath.empty()) {
        sinks.push_back(std::make_unique<EventsCsvOutput>(o.eventsPath, *events_));
    }
    // The progress line only ever goes to a terminal: by itself when the
    // rows are not shown there, and on request.
    const bool rowsOnTerminal = consoleShown(o) && isatty(STDOUT_FILENO) == 1;
    if (isatty(STDERR_FILENO) == 1 && (o.progress || !rowsOnTerminal)) {
        progress_ = std::make_unique<ProgressLine>(stderr);
        if (rowsOnTerminal) {
            sinks.insert(sinks.begin(), std::make_unique<ProgressEraser>(*progress_));
        }
        sinks.push_back(std::make_unique<ProgressSink>(*progress_));
    }
}

bool ExtraOutputs::fatalEvent() const { return events_->tracker().fatalOpened(); }

void ExtraOutputs::runEnded() {
    if (progress_) {
        progress_->clear();
    }
}

void ExtraOutputs::printSummary() {
    if (summary_ && table_ != nullptr) {
        std::FILE* out = summaryToStderr_ ? stderr : stdout;
        std::fputs(summaryTable(*table_).c_str(), out);
        std::fflush(out);
    }
}

}  // namespace nrvq::cli
