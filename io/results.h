// The values of a whole run, kept compactly for the outputs that need all of
// them at the end (JSON, the summary table, the report): pooled statistics
// per indicator and the spans of frames flagged as blackout or freezing.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/frame.h"
#include "io/sink.h"

namespace nrvq {

class EventLog;

// Pooled statistics of one indicator over the frames where it has a value.
struct IndicatorStats {
    int64_t count = 0;    // frames with a finite, measured value
    int64_t leftOut = 0;  // frames without one (not measured, or not finite)
    // The rest are not-a-number when count is 0.
    double mean = 0, min = 0, max = 0, p5 = 0, p50 = 0, p95 = 0;
    double stddev = 0;  // population standard deviation (divides by count)
};

// A run of consecutive frames, by frame index, both ends included.
struct FrameSpan {
    int64_t first = 0;
    int64_t last = 0;
};

// Percentile p (0 ... 1) of sorted values, interpolating linearly between
// the two nearest ranks (rank p * (n - 1)).
double percentile(const std::vector<double>& sorted, double p);

// Collects every examined frame: 15 doubles a frame in one growing array,
// a value that was not measured stored as not-a-number.
class ResultTable : public FrameSink {
public:
    // columns: the indicators the outputs show (--only, --skip).
    explicit ResultTable(ColumnSet columns = ColumnSet(kAllColumns)) : columns_(columns) {}
    const ColumnSet& columns() const { return columns_; }
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;

    const SourceInfo& info() const { return info_; }
    int64_t frames() const { return static_cast<int64_t>(values_.size() / kIndicatorCount); }
    int64_t firstIndex() const { return firstIndex_; }
    int64_t indexOf(int64_t row) const { return firstIndex_ + row; }
    // The value of a column in a row; not finite when there is none.
    double value(int64_t row, size_t column) const {
        return values_[static_cast<size_t>(row) * kIndicatorCount + column];
    }

    // The time of a row's frame in seconds.
    double time(int64_t row) const { return times_[static_cast<size_t>(row)]; }
    // The events of the run, when they are followed (null otherwise).
    const EventLog* events() const { return events_; }
    void setEvents(const EventLog* events) { events_ = events; }

    IndicatorStats stats(size_t column) const;
    // The spans where a flag column is 1.
    std::vector<FrameSpan> spans(Column column) const;

private:
    ColumnSet columns_;
    SourceInfo info_;
    int64_t firstIndex_ = 0;
    std::vector<double> values_;
    std::vector<double> times_;
    const EventLog* events_ = nullptr;
};

// A readable table of the statistics, the blackout and freezing spans and
// the events.
std::string summaryTable(const ResultTable& table);

}  // namespace nrvq
