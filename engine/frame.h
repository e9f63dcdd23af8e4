// One frame's measured values and the processor time spent on them.
#pragma once

#include <array>
#include <cstdint>

#include "engine/registry.h"

namespace nrvq {

struct FrameRecord {
    int64_t index = 0;  // counted from the start of the input
    double seconds = 0;  // presentation time: the input's timestamp, or index / frame rate
    // In column order: flags as 0.0 or 1.0, exposure before the rows
    // truncate it. Before the first frame's temporal indicators have run,
    // their columns hold their start values (0.0).
    std::array<double, kIndicatorCount> values{};
    // False on the first examined frame: the indicators that need a previous
    // frame did not run and their columns were not measured.
    bool hasPrevious = false;
    // The columns computed for the frame; the others are not measured.
    ColumnSet computed{kAllColumns};
    // The frame's luma plane, width x height samples row after row, while the
    // record is handed to the consumer of a run (null otherwise): for sinks
    // that keep a small picture of a few frames.
    const uint8_t* luma = nullptr;

    double operator[](Column c) const { return values[c]; }
};

// Processor seconds per indicator, in column order.
struct Timings {
    std::array<double, kIndicatorCount> seconds{};
    Timings& operator+=(const Timings& other) {
        for (size_t i = 0; i < kIndicatorCount; ++i) {
            seconds[i] += other.seconds[i];
        }
        return *this;
    }
};

// Whether a value was measured: not for the temporal columns of the first
// frame, and not where an indicator reports its row's noValue (block loss
// and slice on small frames, flickering inside its period give -1).
bool isMeasured(const FrameRecord& record, Column column);

// The time of a frame: the source's timestamp when it gave one (a number),
// otherwise index / fps.
double frameTime(double sourceSeconds, int64_t index, double fps);

}  // namespace nrvq
