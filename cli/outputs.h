// The outputs asked for on the command line: the console, the plan of files
// checked before anything is written (the results log, JSON, CSV, the HTML
// report, the events), the summary table, the events and the progress line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/options.h"
#include "io/output_plan.h"
#include "io/progress.h"
#include "io/results.h"
#include "io/sink.h"

namespace nrvq {
class ConsoleOutput;
class EventLog;
class HtmlReport;
class JsonlOutput;
class LiveStats;
class MetricsServer;
}

namespace nrvq::cli {

// Whether the console keeps its start-up lines, rows, report and closing
// line: not with --quiet, nor when an output goes to standard output.
bool consoleShown(const Options& options);

// Every output path of the command line, in the order the plan checks and
// the messages name them. A new output joins with one entry here.
std::vector<PlannedOutput> plannedOutputs(const Options& options);

// The outputs of the plan, opened, and the sinks that write them.
class Outputs {
public:
    // Binds the --listen address, checks and opens the planned outputs
    // (throws OutputError, leaving every file as it was), then builds the
    // sinks: the console first when
    // shown, then whatever writes to standard output, the log, the
    // files and the progress line.
    explicit Outputs(const Options& options);

    std::vector<std::unique_ptr<FrameSink>>& sinks() { return sinks_; }
    // The frame loop is over: wipes the progress line before anything else
    // is written to the terminal.
    void runEnded();
    // Puts every whole file in place; after every sink has finished.
    void commit();
    // After a run that no read failure or closed reader cut short, once
    // every file is in place: the console's closing line, the summary table
    // if asked for, and the check that standard output took everything.
    void close();
    // Whether an event of a fatal rule opened.
    bool fatalEvent() const;
    // What --jsonl and --listen publish; null when neither is asked for.
    LiveStats* stats() { return stats_; }
    JsonlOutput* jsonl() { return jsonl_; }
    // The report, which the inputs of --compare join; null without --report.
    HtmlReport* report() { return report_; }
    ~Outputs();

private:
    PreparedOutput* find(const std::string& option);
    // Bound before the files are opened: a port that is taken refuses the
    // run while every file is still as it was. Stops before the sinks go.
    std::unique_ptr<MetricsServer> server_;
    std::vector<std::unique_ptr<PreparedOutput>> files_;
    std::vector<std::unique_ptr<FrameSink>> sinks_;
    bool summary_;
    bool summaryToStderr_;
    ConsoleOutput* console_ = nullptr;  // owned by the sinks
    ResultTable* table_ = nullptr;  // owned by the sinks
    EventLog* events_ = nullptr;    // owned by the sinks
    LiveStats* stats_ = nullptr;    // owned by the sinks
    JsonlOutput* jsonl_ = nullptr;  // owned by the sinks
    HtmlReport* report_ = nullptr;  // owned by the sinks
    std::unique_ptr<ProgressLine> progress_;
};

}  // namespace nrvq::cli
