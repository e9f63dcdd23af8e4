// The outputs asked for on the command line besides the console rows and the
// results log: JSON, CSV, the summary table, the HTML report and the
// progress line.
#pragma once

#include <memory>
#include <vector>

#include "cli/options.h"
#include "io/progress.h"
#include "io/results.h"
#include "io/sink.h"

namespace nrvq {
class EventLog;
}

namespace nrvq::cli {

// Whether the console keeps its start-up lines, rows, report and closing
// line: not with --quiet, nor when JSON or CSV goes to standard output.
bool consoleShown(const Options& options);

class ExtraOutputs {
public:
    // Opens the requested files (throws OutputError when one cannot be
    // created) and adds their sinks to sinks, which already hold the
    // console rows and the log.
    ExtraOutputs(const Options& options, std::vector<std::unique_ptr<FrameSink>>& sinks);
    // The frame loop is over: wipes the progress line before anything else
    // is written to the terminal.
    void runEnded();
    // After the run: the summary table, if asked for.
    void printSummary();
    // Whether an event of a fatal rule opened.
    bool fatalEvent() const;

private:
    bool summary_;
    bool summaryToStderr_;
    ResultTable* table_ = nullptr;  // owned by the sinks
    EventLog* events_ = nullptr;    // owned by the sinks
    std::unique_ptr<ProgressLine> progress_;
};

}  // namespace nrvq::cli
