#include "engine/events.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace nrvq {

namespace {

// Durations in seconds are compared with this much slack, so that 50 frames
// at 25 fps last 2 s although 49 / 25 + 1 / 25 is not exactly 2.
constexpr double kTimeSlack = 1e-9;

std::string numberText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

EventRule rule(Column column, Comparison op, double threshold, MinimumDuration minimum,
               Severity severity = Severity::Warning) {
    return EventRule{column, op, threshold, minimum, severity, false};
}

MinimumDuration seconds(double s) { return {s, false}; }
MinimumDuration frames(double n) { return {n, true}; }

}  // namespace

std::string_view comparisonText(Comparison op) {
    switch (op) {
        case Comparison::Less:
            return "<";
        case Comparison::LessEqual:
            return "<=";
        case Comparison::Greater:
            return ">";
        case Comparison::GreaterEqual:
            return ">=";
    }
    return "?";
}

std::string_view severityName(Severity severity) {
    switch (severity) {
        case Severity::Info:
            return "info";
        case Severity::Warning:
            return "warning";
        case Severity::Fatal:
            return "fatal";
    }
    return "?";
}

std::optional<Severity> parseSeverity(std::string_view text) {
    for (const Severity s : {Severity::Info, Severity::Warning, Severity::Fatal}) {
        if (text == severityName(s)) {
            return s;
        }
    }
    return std::nullopt;
}

bool meets(Comparison op, double value, double threshold) {
    switch (op) {
        case Comparison::Less:
            return value < threshold;
        case Comparison::LessEqual:
            return value <= threshold;
        case Comparison::Greater:
            return value > threshold;
        case Comparison::GreaterEqual:
            return value >= threshold;
    }
    return false;
}

std::string EventRule::text() const {
    std::string t(kIndicators[column].key);
    t += ' ';
    t += comparisonText(op);
    t += ' ';
    t += numberText(threshold);
    if (minimum.amount > 0) {
        t += " for " + numberText(minimum.amount) + (minimum.inFrames ? "f" : "s");
    }
    return t;
}

const std::vector<EventRule>& defaultRules() {
    using C = Comparison;
    // Chosen from measurements of clean and impaired clips (README, "Events").
    static const std::vector<EventRule> rules = {
        rule(kBlockiness, C::Less, 0.5, seconds(0.5)),
        rule(kSpatialActivity, C::Less, 5, seconds(1), Severity::Info),
        rule(kLetterbox, C::Greater, 0.05, seconds(1), Severity::Info),
        rule(kPillarbox, C::Greater, 0.05, seconds(1), Severity::Info),
        rule(kBlockLoss, C::GreaterEqual, 4, seconds(0.5)),
        rule(kBlur, C::Greater, 9, seconds(0.5)),
        rule(kTemporalActivity, C::Greater, 50, frames(0), Severity::Info),
        rule(kBlackout, C::GreaterEqual, 1, frames(0)),
        rule(kFreezing, C::GreaterEqual, 1, frames(0)),
        rule(kExposure, C::Less, 50, seconds(0.3)),
        rule(kExposure, C::Greater, 210, seconds(0.3)),
        rule(kContrast, C::Less, 15, seconds(0.3)),
        rule(kInterlace, C::Greater, 0.05, seconds(0.3)),
        rule(kNoise, C::Greater, 10, seconds(0.5)),
        rule(kSlice, C::Greater, 50, seconds(0.5)),
        // Flickering reports on every 8th frame: two reports in a row.
        rule(kFlickering, C::Greater, 0.85, frames(16)),
    };
    return rules;
}

std::vector<EventRule> combineRules(const std::vector<EventRule>& defaults, const std::vector<EventRule>& user) {
    std::vector<EventRule> rules;
    for (const EventRule& d : defaults) {
        bool replaced = false;
        for (const EventRule& u : user) {
            replaced = replaced || (u.column == d.column && u.watchesLow() == d.watchesLow());
        }
        if (!replaced) {
            rules.push_back(d);
        }
    }
    rules.insert(rules.end(), user.begin(), user.end());
    return rules;
}

void makeFatal(std::vector<EventRule>& rules, const std::vector<Column>& columns) {
    for (EventRule& r : rules) {
        for (const Column c : columns) {
            if (r.column == c) {
                r.severity = Severity::Fatal;
            }
        }
    }
}

EventTracker::EventTracker(std::vector<EventRule> rules, double fps)
    : rules_(std::move(rules)), period_(fps > 0 ? 1.0 / fps : 0.0), runs_(rules_.size()) {}

void EventTracker::frame(const FrameRecord& record) {
    for (size_t i = 0; i < rules_.size(); ++i) {
        const EventRule& r = rules_[i];
        Run& run = runs_[i];
        const bool measured = isMeasured(record, r.column);
        const double value = record.values[r.column];
        const bool holds = measured ? meets(r.op, value, r.threshold) : run.holding;
        if (!holds) {
            if (run.opened) {
                events_[run.event].end = record.seconds;
            }
            run = Run{};
            continue;
        }
        if (!run.holding) {
            run.holding = true;
            run.first = record.index;
            run.start = record.seconds;
        }
        ++run.frames;
        if (measured && (!run.hasPeak || (r.watchesLow() ? value < run.peak : value > run.peak))) {
            run.peak = value;
            run.hasPeak = true;
        }
        if (!run.opened) {
            const bool longEnough =
                r.minimum.inFrames
                    ? static_cast<double>(run.frames) >= r.minimum.amount
                    : record.seconds - run.start + period_ >= r.minimum.amount - kTimeSlack;
            if (longEnough) {
                run.opened = true;
                run.event = events_.size();
                events_.push_back(Event{i, r.column, r.severity, run.first, record.index, run.start, 0, 0});
                fatal_ = fatal_ || r.severity == Severity::Fatal;
            }
        }
        if (run.opened) {
            Event& e = events_[run.event];
            e.last = record.index;
            e.end = record.seconds + period_;
            e.peak = run.hasPeak ? run.peak : std::nan("");
        }
    }
}

std::vector<Event> EventTracker::events() const { return events_; }

}  // namespace nrvq
