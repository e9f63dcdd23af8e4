// The inputs of --compare: each analysed with the main input's options,
// with no console rows or log of their own, its values and events kept so
// that the report draws them beside the main input's.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "cli/options.h"

namespace nrvq {
class EventLog;
class HtmlReport;
class ResultTable;
}

namespace nrvq::cli {

class ComparedInputs {
public:
    ComparedInputs();
    ~ComparedInputs();
    // Analyses every input of --compare in order. A self-describing input
    // (YUV4MPEG2, a container) says its own size and rate; a raw one takes
    // the main input's. Returns false, having said on standard error which
    // input failed and why, when one cannot be opened or read, or when the
    // stop flag ended the run.
    bool analyse(const Options& options, const std::atomic<bool>* stop);
    // Hands their values and events to the report (null: none); they last
    // as long as this object.
    void addTo(HtmlReport* report) const;

private:
    struct Run {
        std::unique_ptr<EventLog> events;
        std::unique_ptr<ResultTable> table;
    };
    std::vector<Run> runs_;  // kept until the report is written
};

}  // namespace nrvq::cli
