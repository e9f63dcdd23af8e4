#include "io/live_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "io/data_output.h"
#include "io/events_output.h"

namespace nrvq {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Frames the window holds at most, whatever the rate.
constexpr size_t kMaxWindowFrames = size_t{1} << 16;

void appendMetric(std::string& text, double value) {
    if (std::isfinite(value)) {
        appendNumber(text, value);
    } else {
        text += std::isnan(value) ? "NaN" : value > 0 ? "+Inf" : "-Inf";
    }
    text += '\n';
}

}  // namespace

LiveStats::LiveStats(const EventLog& events, ColumnSet columns, double windowSeconds)
    : events_(events), columns_(columns), windowSeconds_(windowSeconds) {
    last_.values.fill(kNaN);
}

void LiveStats::begin(const SourceInfo& info) {
    // Room for the window at twice the nominal rate; faster input keeps the
    // most recent frames.
    const double perWindow = std::ceil(windowSeconds_ * std::max(info.fps, 1.0) * 2) + 16;
    const size_t capacity = std::min(kMaxWindowFrames, static_cast<size_t>(perWindow));
    const std::lock_guard lock(mutex_);
    input_ = info.path;
    ring_.assign(capacity, Sample{});
    running_ = true;
}

void LiveStats::frame(const FrameRecord& record) {
    const std::vector<Event>& events = events_.tracker().eventsSoFar();
    const std::lock_guard lock(mutex_);
    ++frames_;
    last_.time = record.seconds;
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        last_.values[c] = isMeasured(record, static_cast<Column>(c)) ? record.values[c] : kNaN;
    }
    if (size_ == ring_.size()) {
        head_ = (head_ + 1) % ring_.size();
        --size_;
    }
    ring_[(head_ + size_) % ring_.size()] = last_;
    ++size_;
    for (; eventsSeen_ < events.size(); ++eventsSeen_) {
        const Event& e = events[eventsSeen_];
        ++eventCounts_[e.column][static_cast<size_t>(e.severity)];
    }
}

void LiveStats::finish(const RunSummary&) {
    const std::lock_guard lock(mutex_);
    running_ = false;
}

void LiveStats::watch(const LiveSource* source) {
    const std::lock_guard lock(mutex_);
    source_ = source;
}

void LiveStats::signalChange(const SignalChange& change) {
    const std::lock_guard lock(mutex_);
    signalUp_ = !change.lost;
    signalLost_ += change.lost ? 1 : 0;
}

WindowStats LiveStats::window() const {
    const std::lock_guard lock(mutex_);
    return windowLocked();
}

WindowStats LiveStats::windowLocked() const {
    WindowStats w;
    w.min.fill(kNaN);
    w.max.fill(kNaN);
    w.mean.fill(kNaN);
    if (size_ == 0) {
        return w;
    }
    w.to = last_.time;
    w.from = last_.time;
    std::array<double, kIndicatorCount> sum{};
    for (size_t i = size_; i-- > 0;) {
        const Sample& s = ring_[(head_ + i) % ring_.size()];
        if (!(s.time > last_.time - windowSeconds_)) {
            break;
        }
        w.from = s.time;
        ++w.frames;
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            const double v = s.values[c];
            if (std::isnan(v)) {
                continue;
            }
            sum[c] += v;
            w.min[c] = w.count[c] == 0 ? v : std::min(w.min[c], v);
            w.max[c] = w.count[c] == 0 ? v : std::max(w.max[c], v);
            ++w.count[c];
        }
    }
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (w.count[c] > 0) {
            w.mean[c] = sum[c] / static_cast<double>(w.count[c]);
        }
    }
    return w;
}

bool LiveStats::healthy() const {
    const std::lock_guard lock(mutex_);
    return frames_ > 0 && running_ && signalUp_;
}

std::string LiveStats::metrics() const {
    const std::lock_guard lock(mutex_);
    const WindowStats w = windowLocked();
    std::string text;
    text.reserve(8192);
    text += "# HELP nrvq_frames_total Frames analysed.\n# TYPE nrvq_frames_total counter\nnrvq_frames_total ";
    appendMetric(text, static_cast<double>(frames_));
    text += "# HELP nrvq_frame_time_seconds Time of the last frame analysed.\n# TYPE nrvq_frame_time_seconds "
            "gauge\nnrvq_frame_time_seconds ";
    appendMetric(text, last_.time);
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!columns_[c]) {
            continue;
        }
        const std::string name = "nrvq_" + std::string(kIndicators[c].key);
        text += "# HELP " + name + " " + std::string(kIndicators[c].key) +
                ": the last frame's value (stat=\"last\") and the mean over the window (stat=\"window_mean\").\n";
        text += "# TYPE " + name + " gauge\n";
        text += name + "{stat=\"last\"} ";
        appendMetric(text, last_.values[c]);
        text += name + "{stat=\"window_mean\"} ";
        appendMetric(text, w.mean[c]);
        text += name + "{stat=\"window_min\"} ";
        appendMetric(text, w.min[c]);
        text += name + "{stat=\"window_max\"} ";
        appendMetric(text, w.max[c]);
    }
    text += "# HELP nrvq_window_seconds Span of the window statistics.\n# TYPE nrvq_window_seconds gauge\n"
            "nrvq_window_seconds ";
    appendMetric(text, windowSeconds_);
    text += "# HELP nrvq_events_total Events opened, by indicator and severity.\n# TYPE nrvq_events_total counter\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        for (const Severity s : {Severity::Info, Severity::Warning, Severity::Fatal}) {
            const int64_t n = eventCounts_[c][static_cast<size_t>(s)];
            if (columns_[c] || n > 0) {
                text += "nrvq_events_total{indicator=\"" + std::string(kIndicators[c].key) + "\",severity=\"" +
                        std::string(severityName(s)) + "\"} ";
                appendMetric(text, static_cast<double>(n));
            }
        }
    }
    text += "nrvq_events_total{indicator=\"signal\",severity=\"warning\"} ";
    appendMetric(text, static_cast<double>(signalLost_));
    text += "# HELP nrvq_running The analysis is running.\n# TYPE nrvq_running gauge\nnrvq_running ";
    appendMetric(text, running_ ? 1 : 0);
    if (source_ != nullptr) {
        text += "# HELP nrvq_input_up The live input delivers frames.\n# TYPE nrvq_input_up gauge\nnrvq_input_up{input=\"";
        for (const char ch : input_) {
            if (ch == '"' || ch == '\\') text += '\\';
            text += ch == '\n' ? ' ' : ch;
        }
        text += "\"} ";
        appendMetric(text, source_->connected() ? 1 : 0);
        text += "# HELP nrvq_reconnects_total Times the live input was opened again.\n# TYPE nrvq_reconnects_total "
                "counter\nnrvq_reconnects_total ";
        appendMetric(text, static_cast<double>(source_->reconnects()));
        text += "# HELP nrvq_dropped_frames_total Frames dropped while the analysis was behind.\n# TYPE "
                "nrvq_dropped_frames_total counter\nnrvq_dropped_frames_total ";
        appendMetric(text, static_cast<double>(source_->droppedFrames()));
        text += "# HELP nrvq_damaged_frames_total Frames the decoder delivered damaged (lost packets).\n# TYPE "
                "nrvq_damaged_frames_total counter\nnrvq_damaged_frames_total ";
        appendMetric(text, static_cast<double>(source_->damagedFrames()));
    }
    return text;
}

}  // namespace nrvq
