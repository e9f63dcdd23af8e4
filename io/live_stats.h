// What a running analysis publishes: frames so far, the last value and the
// rolling statistics of every indicator over a window of time, the events
// by indicator and severity, and the state of a live input. Fed by the frame
// loop and the live input's thread, read by the metrics endpoint: every
// access holds one lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/events.h"
#include "io/live_source.h"
#include "io/sink.h"

namespace nrvq {

class EventLog;

// Count, mean, lowest and highest measured value per indicator over the
// frames of a window.
struct WindowStats {
    double from = 0;
    double to = 0;
    int64_t frames = 0;
    std::array<int64_t, kIndicatorCount> count{};
    std::array<double, kIndicatorCount> mean{};
    std::array<double, kIndicatorCount> min{};
    std::array<double, kIndicatorCount> max{};
};

class LiveStats : public FrameSink {
public:
    // events: the run's event log, which sees every frame before this sink.
    LiveStats(const EventLog& events, ColumnSet columns, double windowSeconds);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;

    // The live input whose state is published; none for a file.
    void watch(const LiveSource* source);
    void signalChange(const SignalChange& change);

    // The frames of the last windowSeconds up to the last frame seen.
    WindowStats window() const;
    // The Prometheus text exposition of everything above.
    std::string metrics() const;
    // Frames have been analysed and the input (if live) is connected.
    bool healthy() const;
    double windowSeconds() const { return windowSeconds_; }

private:
    struct Sample {
        double time = 0;
        std::array<double, kIndicatorCount> values{};  // not-a-number where not measured
    };
    WindowStats windowLocked() const;

    const EventLog& events_;
    ColumnSet columns_;
    double windowSeconds_;
    const LiveSource* source_ = nullptr;

    mutable std::mutex mutex_;
    std::string input_;
    int64_t frames_ = 0;
    bool running_ = false;
    Sample last_;
    std::vector<Sample> ring_;  // the recent frames, oldest at head_
    size_t head_ = 0;
    size_t size_ = 0;
    size_t eventsSeen_ = 0;
    std::array<std::array<int64_t, 3>, kIndicatorCount> eventCounts_{};
    int64_t signalLost_ = 0;
    bool signalUp_ = true;
};

}  // namespace nrvq
