// Events: spans of frames in which an indicator's value meets a condition
// for at least a minimum duration, each with a severity. Definitions come
// from a table of defaults, one or two per indicator, which rules given by
// the user replace or add to. A tracker follows the frames in order and
// opens and closes events; an event still open at the last frame closes
// there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/frame.h"
#include "engine/registry.h"

namespace nrvq {

enum class Comparison { Less, LessEqual, Greater, GreaterEqual };
enum class Severity { Info, Warning, Fatal };

std::string_view comparisonText(Comparison op);
std::string_view severityName(Severity severity);
std::optional<Severity> parseSeverity(std::string_view text);

// Whether value meets the comparison with threshold; never for not-a-number.
bool meets(Comparison op, double value, double threshold);

// How long a condition must hold before its event opens: a number of frames
// or of seconds. Zero frames (the default) opens on the first frame.
struct MinimumDuration {
    double amount = 0;
    bool inFrames = true;
};

struct EventRule {
    Column column = kBlockiness;
    Comparison op = Comparison::Greater;
    double threshold = 0;
    MinimumDuration minimum;
    Severity severity = Severity::Warning;
    bool user = false;  // given on the command line or in a rules file

    // "blur > 12 for 0.5s": the condition and its duration, not the severity.
    std::string text() const;
    // The direction in which values are worse: a rule with < or <= watches
    // values falling, > or >= values rising.
    bool watchesLow() const { return op == Comparison::Less || op == Comparison::LessEqual; }
};

// The default definitions, in column order (exposure has two: too dark and
// too bright).
const std::vector<EventRule>& defaultRules();

// The rules of a run: the defaults, each replaced by the user's rules for
// the same indicator and direction, then the user's rules in their order.
std::vector<EventRule> combineRules(const std::vector<EventRule>& defaults, const std::vector<EventRule>& user);

// Makes fatal every rule whose indicator is in columns.
void makeFatal(std::vector<EventRule>& rules, const std::vector<Column>& columns);

struct Event {
    size_t rule = 0;  // index into the tracker's rules
    Column column = kBlockiness;
    Severity severity = Severity::Warning;
    int64_t first = 0;  // frame indices, both included
    int64_t last = 0;
    double start = 0;  // time of the first frame, seconds
    double end = 0;    // time of the frame after the last (or the last frame's time plus one frame period)
    double peak = 0;   // the worst measured value: highest for a rule on rising values, lowest otherwise
};

// Follows the frames of one run in order. A value that was not measured on
// a frame (flickering between its reports, the first frame's temporal
// columns) keeps the condition as the last measured value left it.
class EventTracker {
public:
    // fps gives the nominal frame period: the length of the last frame of
    // a span, and of a frame when durations are counted in seconds.
    EventTracker(std::vector<EventRule> rules, double fps);

    void frame(const FrameRecord& record);
    // Every event so far, in the order they opened; those still open close
    // at the last frame seen.
    std::vector<Event> events() const;
    // The events so far as they stand, without a copy: an open one's last
    // frame is the last frame seen, and its end that frame's end.
    const std::vector<Event>& eventsSoFar() const { return events_; }
    const std::vector<EventRule>& rules() const { return rules_; }
    // Whether an event of a fatal rule has opened.
    bool fatalOpened() const { return fatal_; }
    // Whether a rule's condition held on the last frame seen, whether or not
    // it has lasted long enough to open an event yet.
    bool holding(size_t rule) const { return runs_[rule].holding; }

private:
    struct Run {
        bool holding = false;
        bool opened = false;
        size_t event = 0;  // index in events_ once opened
        int64_t first = 0;
        double start = 0;
        int64_t frames = 0;
        double peak = 0;
        bool hasPeak = false;
    };
    std::vector<EventRule> rules_;
    double period_;
    std::vector<Run> runs_;
    std::vector<Event> events_;
    bool fatal_ = false;
};

}  // namespace nrvq
