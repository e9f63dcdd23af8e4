#include "io/jsonl_output.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "io/events_output.h"
#include "io/live_stats.h"

namespace nrvq {

JsonlOutput::JsonlOutput(PreparedOutput& target, const EventLog& events, const LiveStats& stats, ColumnSet columns)
    : file_(target, "the JSON lines output"), events_(events), stats_(stats), columns_(columns) {
    line_.reserve(1024);
    pending_.reserve(4096);
}

void JsonlOutput::begin(const SourceInfo& info) {
    nlohmann::ordered_json input = {{"input", info.path}, {"kind", info.kind},   {"width", info.width},
                                    {"height", info.height}, {"fps", info.fps}, {"window", stats_.windowSeconds()}};
    if (std::isfinite(info.epoch)) {
        input["epoch"] = info.epoch;
    }
    const std::lock_guard lock(mutex_);
    pending_ = input.dump() + "\n";
    emit();
}

void JsonlOutput::frame(const FrameRecord& record) {
    pending_.clear();
    pending_ += "{\"frame\": ";
    pending_ += std::to_string(record.index);
    appendJsonField(pending_, "time", record.seconds);
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (columns_[c]) {
            appendJsonField(pending_, kIndicators[c].key,
                        isMeasured(record, static_cast<Column>(c)) ? record.values[c] : std::nan(""));
        }
    }
    pending_ += "}\n";
    // Events that opened on this frame, and those that ended before it (an
    // open event's last frame is always the latest).
    const std::vector<Event>& events = events_.tracker().eventsSoFar();
    for (size_t k = 0; k < open_.size();) {
        const Event& e = events[open_[k]];
        if (e.last != record.index) {
            eventLine(e, false);
            open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(k));
        } else {
            ++k;
        }
    }
    for (; eventsSeen_ < events.size(); ++eventsSeen_) {
        eventLine(events[eventsSeen_], true);
        open_.push_back(eventsSeen_);
    }
    if (!started_) {
        started_ = true;
        windowStart_ = record.seconds;
    } else if (record.seconds - windowStart_ >= stats_.windowSeconds()) {
        windowStart_ = record.seconds;
        windowLine();
    }
    const std::lock_guard lock(mutex_);
    emit();
}

void JsonlOutput::eventLine(const Event& e, bool open) {
    pending_ += "{\"event\": \"";
    pending_ += kIndicators[e.column].key;
    pending_ += open ? "\", \"state\": \"open\", \"severity\": \"" : "\", \"state\": \"closed\", \"severity\": \"";
    pending_ += severityName(e.severity);
    pending_ += "\", \"first\": " + std::to_string(e.first);
    appendJsonField(pending_, "start", e.start);
    if (!open) {
        pending_ += ", \"last\": " + std::to_string(e.last);
        appendJsonField(pending_, "end", e.end);
        appendJsonField(pending_, "duration", e.end - e.start);
        appendJsonField(pending_, "peak", e.peak);
    }
    pending_ += ", \"rule\": " + nlohmann::json(events_.tracker().rules()[e.rule].text()).dump() + "}\n";
}

void JsonlOutput::windowLine() {
    const WindowStats w = stats_.window();
    pending_ += "{\"window\": {\"from\": ";
    appendNumber(pending_, w.from);
    appendJsonField(pending_, "to", w.to);
    pending_ += ", \"frames\": " + std::to_string(w.frames);
    for (const auto& [name, values] : {std::pair{"mean", &w.mean}, std::pair{"min", &w.min}, std::pair{"max", &w.max}}) {
        pending_ += ", \"";
        pending_ += name;
        pending_ += "\": {";
        bool first = true;
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            if (columns_[c]) {
                std::string field;
                appendJsonField(field, kIndicators[c].key, (*values)[c]);
                pending_.append(field, first ? 2 : 0);
                first = false;
            }
        }
        pending_ += '}';
    }
    pending_ += "}}\n";
}

void JsonlOutput::finish(const RunSummary&) {
    // Events still open close at the last frame.
    pending_.clear();
    const std::vector<Event>& events = events_.tracker().eventsSoFar();
    for (const size_t k : open_) {
        eventLine(events[k], false);
    }
    open_.clear();
    const std::lock_guard lock(mutex_);
    emit();
    closed_ = true;
    if (!failed_) {
        file_.close();
    }
}

void JsonlOutput::signalChange(const SignalChange& change) {
    std::string text = change.lost ? "{\"event\": \"signal\", \"state\": \"lost\", \"severity\": \"warning\""
                                   : "{\"event\": \"signal\", \"state\": \"back\", \"severity\": \"warning\"";
    appendJsonField(text, "time", change.time);
    if (change.lost) {
        text += ", \"reason\": " + nlohmann::json(change.reason).dump(-1, ' ', false,
                                                                      nlohmann::json::error_handler_t::replace);
    } else {
        appendJsonField(text, "duration", change.duration);
    }
    text += "}\n";
    const std::lock_guard lock(mutex_);
    if (failed_ || closed_) {
        return;
    }
    try {
        file_.write(text);
        file_.flush();
    } catch (const OutputError&) {
        // The frame loop meets the same failure at its next write.
    }
}

void JsonlOutput::emit() {
    if (failed_ || pending_.empty()) {
        return;
    }
    try {
        file_.write(pending_);
        file_.flush();
    } catch (const OutputError&) {
        failed_ = true;
        throw;
    }
}

}  // namespace nrvq
