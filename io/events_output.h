// Events of a run: the sink that follows the frames with the run's rules,
// and the events as CSV (--events), as JSON and as lines of the summary.
#pragma once

#include <string>
#include <vector>

#include "engine/events.h"
#include "io/data_output.h"
#include "io/output_plan.h"
#include "io/sink.h"

namespace nrvq {

// Follows every frame; the events are there at any time, those still open
// ending at the last frame seen.
class EventLog : public FrameSink {
public:
    explicit EventLog(std::vector<EventRule> rules);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override { tracker_.frame(record); }
    const EventTracker& tracker() const { return tracker_; }

private:
    EventTracker tracker_;
};

// The header and one CRLF-ended row per event: indicator, severity, first,
// last, start, end, peak (empty when not finite), rule.
std::string eventsCsv(const EventTracker& tracker);
// Lines for the summary table: a count, then one line per event.
std::string eventsText(const EventTracker& tracker);

// The CSV of --events, written once the run is over.
class EventsCsvOutput : public WholeFileOutput {
public:
    EventsCsvOutput(PreparedOutput& target, const EventLog& log);

private:
    void write(OutputFile& file) override;
    const EventLog& log_;
};

}  // namespace nrvq
