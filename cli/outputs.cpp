#include "cli/outputs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/data_output.h"
#include "nrvq/nrvq.h"
#include "io/events_output.h"
#include "io/jsonl_output.h"
#include "io/live_stats.h"
#include "io/metrics_server.h"
#include "io/report.h"
#include "io/text_output.h"
#include "io/thumbnails.h"

namespace nrvq::cli {

namespace {

bool anyOnStandardOutput(const Options& o) {
    return o.jsonPath == "-" || o.csvPath == "-" || o.eventsPath == "-" || (o.jsonlGiven && o.jsonlPath == "-");
}

}  // namespace

// The rows hold every indicator: off under a selection.
bool consoleShown(const Options& o) { return !o.quiet && o.indicators.all() && !anyOnStandardOutput(o); }

std::vector<PlannedOutput> plannedOutputs(const Options& o) {
    std::vector<PlannedOutput> plan;
    const auto add = [&plan](const char* option, const std::string& path, bool given, WriteMode mode) {
        if (given) {
            plan.push_back({option, path, mode});
        }
    };
    // The console rows: no file may take what standard output is sent to.
    add("standard output", "-", consoleShown(o), WriteMode::Streaming);
    // The log holds every indicator: off under a selection.
    add("--log", o.logPath, !o.noLog && o.indicators.all(), WriteMode::Streaming);
    add("--json", o.jsonPath, o.jsonGiven, WriteMode::WholeFile);
    add("--csv", o.csvPath, o.csvGiven, WriteMode::WholeFile);
    add("--report", o.reportPath, o.reportGiven, WriteMode::WholeFile);
    add("--events", o.eventsPath, o.eventsGiven, WriteMode::WholeFile);
    add("--jsonl", o.jsonlPath, o.jsonlGiven, WriteMode::Streaming);
    return plan;
}

Outputs::Outputs(const Options& o)
    : server_(o.listenPort > 0 ? std::make_unique<MetricsServer>(o.listenHost, o.listenPort) : nullptr),
      files_(prepareOutputs(plannedOutputs(o), o.input)),
      summary_(o.summary),
      summaryToStderr_(anyOnStandardOutput(o)) {
    const bool console = consoleShown(o);
    if (console) {
        auto rows = std::make_unique<ConsoleOutput>(stdout, o.input, o.frames);
        console_ = rows.get();
        sinks_.push_back(std::move(rows));
    }
    auto events = std::make_unique<EventLog>(o.rules);
    events_ = events.get();
    sinks_.push_back(std::move(events));
    if (o.jsonlGiven || o.listenPort > 0) {
        auto stats = std::make_unique<LiveStats>(*events_, o.indicators, o.windowSeconds);
        stats_ = stats.get();
        sinks_.push_back(std::move(stats));
    }
    if (PreparedOutput* jsonl = find("--jsonl")) {
        // Before the log: a closed pipe stops the run before the log takes
        // a frame that could not be passed on.
        auto lines = std::make_unique<JsonlOutput>(*jsonl, *events_, *stats_, o.indicators);
        jsonl_ = lines.get();
        sinks_.push_back(std::move(lines));
    }
    if (server_) {
        server_->serve(*stats_);
    }
    if (o.summary || o.jsonGiven || o.reportGiven) {
        auto table = std::make_unique<ResultTable>(o.indicators);
        table_ = table.get();
        table_->setEvents(events_);
        sinks_.push_back(std::move(table));
    }
    if (PreparedOutput* csv = find("--csv"); csv != nullptr && csv->toStandardOutput()) {
        // Rows on standard output come before the log: a closed pipe stops
        // the run before the log takes the row it could not pass on.
        sinks_.push_back(std::make_unique<CsvOutput>(*csv, o.indicators));
    }
    if (PreparedOutput* log = find("--log")) {
        sinks_.push_back(std::make_unique<TabLog>(*log));
    }
    if (PreparedOutput* json = find("--json")) {
        sinks_.push_back(std::make_unique<JsonOutput>(*json, *table_, std::string(version())));
    }
    if (PreparedOutput* csv = find("--csv"); csv != nullptr && !csv->toStandardOutput()) {
        sinks_.push_back(std::make_unique<CsvOutput>(*csv, o.indicators));
    }
    if (PreparedOutput* report = find("--report")) {
        // The pictures are taken as the frames pass; the page is written at the end.
        auto thumbnails = std::make_unique<ThumbnailCollector>(*events_, o.indicators);
        const ThumbnailCollector* pictures = thumbnails.get();
        sinks_.push_back(std::move(thumbnails));
        auto page = std::make_unique<HtmlReport>(*report, *table_, std::string(version()), pictures);
        report_ = page.get();
        sinks_.push_back(std::move(page));
    }
    if (PreparedOutput* eventsCsv = find("--events")) {
        sinks_.push_back(std::make_unique<EventsCsvOutput>(*eventsCsv, *events_));
    }
    // The progress line only ever goes to a terminal: by itself when the
    // rows are not shown there, and on request.
    const bool rowsOnTerminal = console && isatty(STDOUT_FILENO) == 1;
    if (isatty(STDERR_FILENO) == 1 && (o.progress || !rowsOnTerminal)) {
        progress_ = std::make_unique<ProgressLine>(stderr);
        if (rowsOnTerminal) {
            sinks_.insert(sinks_.begin(), std::make_unique<ProgressEraser>(*progress_));
        }
        sinks_.push_back(std::make_unique<ProgressSink>(*progress_));
    }
}

PreparedOutput* Outputs::find(const std::string& option) {
    for (auto& file : files_) {
        if (file->option() == option) {
            return file.get();
        }
    }
    return nullptr;
}

Outputs::~Outputs() { server_.reset(); }

bool Outputs::fatalEvent() const { return events_->tracker().fatalOpened(); }

void Outputs::runEnded() {
    if (progress_) {
        progress_->clear();
    }
}

void Outputs::commit() {
    for (auto& file : files_) {
        file->commit();
    }
}

void Outputs::close() {
    if (console_ != nullptr) {
        console_->close();
    }
    if (summary_ && table_ != nullptr) {
        std::FILE* out = summaryToStderr_ ? stderr : stdout;
        std::fputs(summaryTable(*table_).c_str(), out);
        std::fflush(out);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        throw OutputError(std::string("Cannot write to standard output: ") + std::strerror(error), error);
    }
}

}  // namespace nrvq::cli
