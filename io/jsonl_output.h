// --jsonl: JSON lines written as the run goes, each flushed whole: one per
// frame (frame, time, every indicator, null where not measured), one per
// event as it opens and as it closes, one per loss and return of a live
// input's signal, and the rolling statistics once per window.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/events.h"
#include "io/data_output.h"
#include "io/live_source.h"
#include "io/sink.h"

namespace nrvq {

class EventLog;
class LiveStats;

class JsonlOutput : public FrameSink {
public:
    // events and stats see every frame before this sink.
    JsonlOutput(PreparedOutput& target, const EventLog& events, const LiveStats& stats, ColumnSet columns);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;
    // From a live input's thread.
    void signalChange(const SignalChange& change);

private:
    void eventLine(const Event& e, bool open);
    void windowLine();
    void emit();  // writes and flushes line_; holds mutex_

    OutputFile file_;
    const EventLog& events_;
    const LiveStats& stats_;
    ColumnSet columns_;
    std::mutex mutex_;
    std::string line_;
    std::string pending_;  // lines of the frame loop, written together
    size_t eventsSeen_ = 0;
    std::vector<size_t> open_;  // events that have opened and not closed
    double windowStart_ = 0;
    bool started_ = false;
    bool failed_ = false;
    bool closed_ = false;  // finished: a late signal line is not written
};

}  // namespace nrvq
