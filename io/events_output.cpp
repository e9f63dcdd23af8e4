#include "io/events_output.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace nrvq {

EventLog::EventLog(std::vector<EventRule> rules) : tracker_(std::move(rules), kDefaultFps) {}

void EventLog::begin(const SourceInfo& info) {
    std::vector<EventRule> rules = tracker_.rules();
    tracker_ = EventTracker(std::move(rules), info.fps);
}

std::string eventsCsv(const EventTracker& tracker) {
    std::string text = "indicator,severity,first,last,start,end,peak,rule\r\n";
    for (const Event& e : tracker.events()) {
        text += std::string(kIndicators[e.column].key) + ',' + std::string(severityName(e.severity)) + ',' +
                std::to_string(e.first) + ',' + std::to_string(e.last) + ',';
        appendNumber(text, e.start);
        text += ',';
        appendNumber(text, e.end);
        text += ',';
        if (std::isfinite(e.peak)) {
            appendNumber(text, e.peak);
        }
        // Rules hold no comma or quote; quoted all the same, for the blanks.
        text += ",\"" + tracker.rules()[e.rule].text() + "\"\r\n";
    }
    return text;
}

std::string eventsText(const EventTracker& tracker) {
    const std::vector<Event> events = tracker.events();
    size_t fatal = 0;
    for (const Event& e : events) {
        fatal += e.severity == Severity::Fatal ? 1 : 0;
    }
    std::string text = "events: " + std::to_string(events.size());
    text += fatal > 0 ? " (" + std::to_string(fatal) + " fatal)\n" : "\n";
    char line[320];
    for (const Event& e : events) {
        const std::string key(kIndicators[e.column].key);
        const std::string severity(severityName(e.severity));
        const int n = std::snprintf(line, sizeof line, "  %-18s %-8s frames %lld-%lld  %.3f-%.3f s  peak %-10.6g %s\n",
                                    key.c_str(), severity.c_str(), static_cast<long long>(e.first),
                                    static_cast<long long>(e.last), e.start, e.end, e.peak,
                                    tracker.rules()[e.rule].text().c_str());
        text.append(line, n > 0 ? std::min(static_cast<size_t>(n), sizeof line - 1) : 0);
    }
    return text;
}

EventsCsvOutput::EventsCsvOutput(PreparedOutput& target, const EventLog& log)
    : WholeFileOutput(target, "the events output"), log_(log) {}

void EventsCsvOutput::write(OutputFile& file) { file.write(eventsCsv(log_.tracker())); }

}  // namespace nrvq
