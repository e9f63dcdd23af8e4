#include "io/report.h"

#include "engine/events.h"
#include "io/events_output.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace nrvq {

namespace {

// Chart geometry in SVG units; the page scales it to its width. Every chart
// and the timeline share the horizontal layout, so that they line up in time.
constexpr double kWidth = 1000, kHeight = 150;
constexpr double kLeft = 118, kRight = 10, kTop = 14, kBottom = 24;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;
// One minimum and maximum per column of the plot's width.
constexpr int64_t kColumns = static_cast<int64_t>(kPlotW);
// The page's script keeps at most this many minima and maxima per indicator
// for the tooltip and for zooming; below it, every frame's value.
constexpr int64_t kBuckets = 4096;
// Events longer than this show their worst frame rather than their first.
constexpr double kLongEvent = 2.0;
// Rows of the table of events at the end of the page.
constexpr size_t kEventRows = 1000;
constexpr const char* kBlackoutFill = "#4b4b4b";
constexpr const char* kFreezingFill = "#3f8fe0";
constexpr std::array<const char*, 3> kSeverityFill = {"#9b7fd4", "#f0a000", "#8b0000"};
// The line of each input, the main one first; more inputs take the colours again.
constexpr std::array<const char*, 8> kLineColours = {"#c0392b", "#1f6fb4", "#2a9d3a", "#8e44ad",
                                                     "#e67e22", "#16a0a8", "#7f5539", "#d63384"};
const char* lineColour(size_t input) { return kLineColours[input % kLineColours.size()]; }

struct Meaning {
    const char* text;
    const char* worse;
};
constexpr std::array<Meaning, kIndicatorCount> kMeanings = {{
    {"visibility of the 8 &times; 8 block grid, about 1 when clean", "lower is worse"},
    {"detail: Sobel gradient energy per sample", "lower is flatter"},
    {"bars at top and bottom, share of the half-height", "higher is more bar"},
    {"bar at the left, share of the half-width", "higher is more bar"},
    {"lost 16 &times; 16 blocks per 256 &times; 256 region", "higher is worse"},
    {"mean width of strong edges in pixels", "higher is blurrier"},
    {"change since the previous frame (RMS of the difference)", "higher is a bigger change"},
    {"1 on a flat frame", "1 is the fault"},
    {"1 once exact repeats last a tenth of a second", "1 is the fault"},
    {"mean luma of the darkest and brightest blocks", "too low is dark, too high is bright"},
    {"RMS contrast: standard deviation of the luma", "lower is worse"},
    {"share of 4 &times; 4 blocks that zig-zag line to line", "higher is worse"},
    {"standard deviation of the noise", "higher is worse"},
    {"repeated slice bands, about 1 when clean", "higher is worse"},
    {"blocks switching between still and changing (every 8th frame)", "higher is worse"},
}};

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    return std::string(buffer, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// A JSON string that may stand inside a script element.
std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '&') {
            out += format("\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(const char* pattern, double value) {
    return std::isfinite(value) ? format(pattern, value) : "&ndash;";
}

std::string jsonNumber(const char* pattern, double value) {
    return std::isfinite(value) ? format(pattern, value) : "null";
}

std::string base64(const std::string& bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << 16;
        if (left > 1) group |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        if (left > 2) group |= static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        out += left > 2 ? kDigits[group & 63] : '=';
    }
    return out;
}

// Seconds as the axis shows them: h:mm:ss or m:ss on long inputs.
std::string timeText(double seconds, bool clock) {
    if (!clock) {
        return format("%g s", std::round(seconds * 1000) / 1000);
    }
    const auto whole = static_cast<long long>(std::floor(seconds));
    return whole >= 3600 ? format("%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60)
                         : format("%lld:%02lld", whole / 60, whole % 60);
}

// The time span the charts cover, and the mapping onto the plot.
struct Axis {
    double t0 = 0, t1 = 1;
    bool clock = false;
    double x(double t) const { return kLeft + (t - t0) / (t1 - t0) * kPlotW; }
    double clampedX(double t) const { return std::clamp(x(t), kLeft, kLeft + kPlotW); }
};

// The span of every input's frames.
Axis axisOf(const std::vector<const ResultTable*>& tables) {
    Axis a;
    bool any = false;
    for (const ResultTable* table : tables) {
        const double period = table->info().fps > 0 ? 1.0 / table->info().fps : 0.0;
        // Timestamps need not rise everywhere (a damaged stream): the axis spans them all.
        for (int64_t row = 0; row < table->frames(); ++row) {
            a.t0 = any ? std::min(a.t0, table->time(row)) : table->time(row);
            a.t1 = any ? std::max(a.t1, table->time(row) + period) : table->time(row) + period;
            any = true;
        }
    }
    if (!any) {
        return Axis{};
    }
    if (!(a.t1 > a.t0)) {
        a.t1 = a.t0 + 1;
    }
    a.clock = a.t1 - a.t0 >= 600;
    return a;
}

// Tick marks at 1, 2 or 5 times a power of ten (seconds, or minutes on the clock).
void ticks(std::string& out, const Axis& a, double y) {
    const double raw = (a.t1 - a.t0) / 8;
    double step = std::pow(10, std::floor(std::log10(raw)));
    for (const double m : {2.0, 5.0, 10.0}) {
        if (step * 1.0001 < raw) {
            step = std::pow(10, std::floor(std::log10(raw))) * m;
        }
    }
    if (a.clock) {
        step = std::max(60.0, std::ceil(step / 60) * 60);
    }
    out += "<g class=\"ticks\">";
    for (double t = std::ceil(a.t0 / step) * step; t <= a.t1 + step * 1e-9; t += step) {
        const double x = a.x(t);
        out += format("<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%g\" y2=\"%g\"/>", x, x, y - 4, y) +
               format("<text x=\"%.1f\" y=\"%g\" text-anchor=\"middle\">", x, y + 12) + timeText(t, a.clock) +
               "</text>";
    }
    out += "</g>\n";
}

// A shaded span; the script moves it when the charts zoom.
std::string band(const Axis& a, double start, double end, double y, double h, const char* fill, double opacity,
                 const std::string& title = "") {
    const double left = a.clampedX(start), right = std::max(left + 0.8, a.clampedX(end));
    return format("<rect class=\"band\" data-a=\"%.7g\" data-b=\"%.7g\" x=\"%.1f\" y=\"%g\" width=\"%.1f\" "
                  "height=\"%g\" fill=\"%s\" fill-opacity=\"%g\">",
                  start, end, left, y, right - left, h, fill, opacity) +
           (title.empty() ? "" : "<title>" + title + "</title>") + "</rect>";
}

std::string eventTitle(const Event& e, const EventTracker& tracker) {
    return std::string(kIndicators[e.column].key) + " " + std::string(severityName(e.severity)) + ": frames " +
           std::to_string(e.first) + "&ndash;" + std::to_string(e.last) + ", " + number("%.3f", e.start) +
           "&ndash;" + number("%.3f", e.end) + " s, peak " + number("%.6g", e.peak) + " (" +
           escaped(tracker.rules()[e.rule].text()) + ")";
}

// The line of a column over the whole input: each frame a point when they
// fit the plot's width, otherwise each pixel column its minimum and maximum
// as a vertical stroke. A frame without a value breaks the line (a column
// only when it has none at all); a value with no neighbour is a dot.
std::pair<std::string, std::string> linePaths(const ResultTable& table, size_t column, const Axis& a, double low,
                                              double high) {
    const int64_t n = table.frames();
    const auto y = [&](double v) { return kTop + (high - v) / (high - low) * kPlotH; };
    std::string line, dots;
    bool drawing = false;
    if (n <= kColumns) {
        for (int64_t row = 0; row < n; ++row) {
            const double v = table.value(row, column);
            if (!std::isfinite(v)) {
                drawing = false;
                continue;
            }
            const bool isolated = !drawing && (row + 1 >= n || !std::isfinite(table.value(row + 1, column)));
            (isolated ? dots : line) += format(isolated ? "M%.1f %.1fh0.01" : drawing ? "L%.1f %.1f" : "M%.1f %.1f",
                                               a.x(table.time(row)), y(v));
            drawing = true;
        }
        return {line, dots};
    }
    std::vector<double> lo(static_cast<size_t>(kColumns), INFINITY), hi(static_cast<size_t>(kColumns), -INFINITY);
    for (int64_t row = 0; row < n; ++row) {
        const double v = table.value(row, column);
        if (std::isfinite(v)) {
            const auto k = static_cast<size_t>(
                std::clamp<int64_t>(static_cast<int64_t>((table.time(row) - a.t0) / (a.t1 - a.t0) * kColumns), 0,
                                    kColumns - 1));
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
        }
    }
    for (size_t k = 0; k < lo.size(); ++k) {
        if (!(lo[k] <= hi[k])) {
            drawing = false;
            continue;
        }
        const double x = kLeft + static_cast<double>(k) + 0.5;
        line += format(drawing ? "L%.1f %.1f" : "M%.1f %.1f", x, y(hi[k]));
        if (lo[k] != hi[k]) {
            line += format("L%.1f %.1f", x, y(lo[k]));
        }
        drawing = true;
    }
    return {line, dots};
}

// Spans drawn as bands, those less than two pixel columns apart joined into
// one, so that a lane holds at most one band per two columns however many
// events a long input has.
// spans: start and end seconds and a title, in any order.
struct TimeSpan {
    double start, end;
    std::string title;
};
std::string bands(const Axis& a, std::vector<TimeSpan> spans, double y, double h, const char* fill, double opacity,
                  const char* what) {
    std::sort(spans.begin(), spans.end(), [](const TimeSpan& l, const TimeSpan& r) { return l.start < r.start; });
    const double gap = 2 * (a.t1 - a.t0) / kPlotW;
    std::string out;
    for (size_t i = 0; i < spans.size();) {
        double end = spans[i].end;
        size_t j = i + 1;
        for (; j < spans.size() && spans[j].start <= end + gap; ++j) {
            end = std::max(end, spans[j].end);
        }
        out += band(a, spans[i].start, end, y, h, fill, opacity,
                    j - i == 1 ? spans[i].title
                               : format("%zu %s, %.3f&ndash;%.3f s", j - i, what, spans[i].start, end));
        i = j;
    }
    return out;
}

// The events that pass a filter, as bands of their severity's colour.
template <typename Filter>
std::string eventBands(const Axis& a, const EventTracker& tracker, Filter which, double y, double h,
                       double opacity) {
    std::string out;
    for (const Severity severity : {Severity::Info, Severity::Warning, Severity::Fatal}) {
        std::vector<TimeSpan> spans;
        for (const Event& e : tracker.eventsSoFar()) {
            if (e.severity == severity && which(e)) {
                spans.push_back({e.start, e.end, eventTitle(e, tracker)});
            }
        }
        out += bands(a, std::move(spans), y, h, kSeverityFill[static_cast<size_t>(severity)], opacity,
                     (std::string(severityName(severity)) + " events").c_str());
    }
    return out;
}

// The file names of the inputs in their colours, when there are several.
std::string legend(const std::vector<const ResultTable*>& tables) {
    std::string out;
    for (size_t k = 0; k < tables.size() && tables.size() > 1; ++k) {
        out += std::string("<span class=\"input\"><span style=\"background:") + lineColour(k) + "\"></span>" +
               escaped(tables[k]->info().path) + "</span>";
    }
    return out;
}

// The chart of a column: a line per input, the main input's spans and events.
void chart(std::string& out, const std::vector<const ResultTable*>& tables, size_t column, const Axis& a,
           const std::vector<FrameSpan>& blackout, const std::vector<FrameSpan>& freezing) {
    const ResultTable& table = *tables[0];
    double low = INFINITY, high = -INFINITY;
    for (const ResultTable* t : tables) {
        const IndicatorStats s = t->stats(column);
        if (s.count > 0) {
            low = std::min(low, s.min);
            high = std::max(high, s.max);
        }
    }
    const bool any = low <= high;
    if (!any) {
        low = 0, high = 1;
    } else if (low == high) {
        low -= 0.5, high += 0.5;
    }
    const std::string key(kIndicators[column].key);
    out += "<figure><figcaption><b>" + key + "</b> &mdash; " + kMeanings[column].text + "; <i>" +
           kMeanings[column].worse + "</i>" + legend(tables) + "</figcaption>\n";
    out += format("<svg class=\"chart\" data-key=\"%s\" data-lo=\"%.17g\" data-hi=\"%.17g\" viewBox=\"0 0 %g %g\" "
                  "role=\"img\" aria-label=\"%s over time\">\n",
                  key.c_str(), low, high, kWidth, kHeight, key.c_str());
    // The spans of frames: half a frame period either side of the frames.
    const double period = table.info().fps > 0 ? 1.0 / table.info().fps : 0.0;
    for (const auto& [spans, fill] : {std::pair{&blackout, kBlackoutFill}, std::pair{&freezing, kFreezingFill}}) {
        std::vector<TimeSpan> times;
        for (const FrameSpan& span : *spans) {
            times.push_back({table.time(span.first - table.firstIndex()),
                             table.time(span.last - table.firstIndex()) + period,
                             format("frames %lld&ndash;%lld", static_cast<long long>(span.first),
                                    static_cast<long long>(span.last))});
        }
        out += bands(a, std::move(times), kTop, kPlotH, fill, 0.28, "spans");
    }
    // This indicator's events over the plot, every event in the strip above.
    if (table.events() != nullptr) {
        const EventTracker& tracker = table.events()->tracker();
        out += eventBands(a, tracker, [](const Event&) { return true; }, 2, 9, 0.9);
        out += eventBands(a, tracker, [column](const Event& e) { return e.column == column; }, kTop, kPlotH, 0.22);
    }
    out += format("\n<rect class=\"frame\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" "
                  "stroke=\"#999\"/>\n",
                  kLeft, kTop, kPlotW, kPlotH);
    // The main input's line last, on top; lines that cover one another (the
    // minima and maxima of long inputs) show through.
    for (size_t k = tables.size(); k-- > 0;) {
        const auto [line, dots] = linePaths(*tables[k], column, a, low, high);
        out += format("<path class=\"line\" data-s=\"%zu\" fill=\"none\" stroke=\"%s\" stroke-width=\"%s\" "
                      "stroke-opacity=\"%s\" stroke-linejoin=\"round\" d=\"",
                      k, lineColour(k), k == 0 ? "1.6" : "1.3", tables.size() > 1 ? "0.7" : "1") +
               line +
               format("\"/>\n<path class=\"dots\" data-s=\"%zu\" fill=\"none\" stroke=\"%s\" stroke-width=\"5\" "
                      "stroke-linecap=\"round\" d=\"",
                      k, lineColour(k)) +
               dots + "\"/>\n";
    }
    if (any) {
        out += format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">", kLeft - 6, kTop + 10) + number("%.4g", high) +
               "</text>" + format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\">", kLeft - 6, kTop + kPlotH) +
               number("%.4g", low) + "</text>\n";
    } else {
        out += format("<text x=\"%g\" y=\"%g\" text-anchor=\"middle\">no values</text>\n", kLeft + kPlotW / 2,
                      kTop + kPlotH / 2);
    }
    ticks(out, a, kTop + kPlotH + 4);
    out += format("<line class=\"cursor\" x1=\"0\" x2=\"0\" y1=\"%g\" y2=\"%g\" visibility=\"hidden\"/>"
                  "<rect class=\"selection\" x=\"0\" y=\"%g\" width=\"0\" height=\"%g\" visibility=\"hidden\"/>\n",
                  kTop, kTop + kPlotH, kTop, kPlotH);
    out += "</svg></figure>\n";
}

// The events, one lane per indicator that has any.
void timeline(std::string& out, const ResultTable& table, const Axis& a, const std::string& id) {
    const EventTracker& tracker = table.events()->tracker();
    const std::vector<Event>& events = tracker.eventsSoFar();
    std::array<int, kIndicatorCount> lane{};
    int lanes = 0;
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        const bool has = std::any_of(events.begin(), events.end(), [c](const Event& e) { return e.column == c; });
        lane[c] = has ? lanes++ : -1;
    }
    const double laneH = 16, height = kTop + lanes * laneH + 22;
    out += format("<svg id=\"%s\" class=\"chart timeline\" viewBox=\"0 0 %g %g\" role=\"img\" "
                  "aria-label=\"events over time\">\n",
                  id.c_str(), kWidth, height);
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (lane[c] >= 0) {
            out += format("<text x=\"%g\" y=\"%g\" text-anchor=\"end\" class=\"lane\">", kLeft - 6,
                          kTop + lane[c] * laneH + 11) +
                   std::string(kIndicators[c].key) + "</text>";
        }
    }
    out += "\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (lane[c] >= 0) {
            out += eventBands(a, tracker, [c](const Event& e) { return e.column == c; },
                              kTop + lane[c] * laneH + 2, laneH - 4, 0.9);
        }
    }
    out += format("\n<rect class=\"frame\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" "
                  "stroke=\"#999\"/>\n",
                  kLeft, kTop, kPlotW, lanes * laneH);
    ticks(out, a, kTop + lanes * laneH + 4);
    out += format("<line class=\"cursor\" x1=\"0\" x2=\"0\" y1=\"%g\" y2=\"%g\" visibility=\"hidden\"/>"
                  "<rect class=\"selection\" x=\"0\" y=\"%g\" width=\"0\" height=\"%g\" visibility=\"hidden\"/>\n",
                  kTop, kTop + lanes * laneH, kTop, lanes * laneH);
    out += "</svg>\n";
}

// The marked pixels of a picture as one path: a rectangle per run along a row.
std::string markPath(const std::vector<bool>& marks, int w, int h) {
    std::string d;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w;) {
            if (!marks[static_cast<size_t>(y * w + x)]) {
                ++x;
                continue;
            }
            const int x0 = x;
            while (x < w && marks[static_cast<size_t>(y * w + x)]) {
                ++x;
            }
            d += format("M%d %dh%dv1h-%dz", x0, y, x - x0, x - x0);
        }
    }
    return d;
}

// A thumbnail with what its indicator located drawn over it: the bars, the
// regions, the band, the edges or the grid.
void picture(std::string& out, const Picture& p, Column column, const ThumbnailCollector& thumbs,
             ThumbnailEncoder& encoder, const std::string& caption, double a0, double a1) {
    const int w = thumbs.width(), h = thumbs.height();
    out += format("<figure class=\"thumb\" data-a=\"%.7g\" data-b=\"%.7g\"><div class=\"pic\">", a0, a1);
    out += format("<img alt=\"frame %lld\" width=\"%d\" height=\"%d\" src=\"data:image/png;base64,",
                  static_cast<long long>(p.frame), w, h) +
           base64(encoder.png(p.pixels.data(), w, h)) + "\">";
    std::string marks;
    const char* mark = "fill=\"#ff00ff\" fill-opacity=\"0.3\" stroke=\"#ff00ff\" stroke-width=\"1.5\"";
    if (column == kLetterbox && p.value > 0) {
        const double bar = std::min(1.0, p.value) * h / 2;
        marks = format("<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%.1f\" %s/>", w, bar, mark) +
                format("<rect x=\"0\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" %s/>", h - bar, w, bar, mark);
    } else if (column == kPillarbox && p.value > 0) {
        marks = format("<rect x=\"0\" y=\"0\" width=\"%.1f\" height=\"%d\" %s/>", std::min(1.0, p.value) * w / 2, h,
                       mark);
    } else if (column == kSlice && p.band >= 0) {
        const double scale = static_cast<double>(h) / thumbs.sourceHeight();
        marks = format("<rect x=\"0\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" %s/>", 16.0 * p.band * scale, w,
                       32 * scale, mark);
    } else if (column == kBlockLoss && thumbs.regionColumns() > 0) {
        const double scale = static_cast<double>(w) / thumbs.sourceWidth();
        for (size_t i = 0; i < p.regions.size(); ++i) {
            if (p.regions[i] != 0) {
                const auto cols = static_cast<size_t>(thumbs.regionColumns());
                marks += format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" %s/>",
                                256.0 * static_cast<double>(i % cols) * scale,
                                256.0 * static_cast<double>(i / cols) * scale, 256 * scale, 256 * scale, mark);
            }
        }
    }
    if (column == kBlur || column == kBlockiness) {
        if (const std::string d = markPath(p.marks, w, h); !d.empty()) {
            marks = "<path fill=\"#ff00ff\" fill-opacity=\"0.55\" stroke=\"#ff00ff\" stroke-width=\"0.6\" d=\"" +
                    d + "\"/>";
        }
    }
    if (!marks.empty()) {
        out += format("<svg viewBox=\"0 0 %d %d\" width=\"%d\" height=\"%d\">", w, h, w, h) + marks + "</svg>";
    }
    out += "</div><figcaption>" + caption + "</figcaption></figure>\n";
}

void pictures(std::string& out, const ResultTable& table, const ThumbnailCollector& thumbs,
              ThumbnailEncoder& encoder) {
    if (thumbs.width() == 0) {
        return;
    }
    if (table.events() != nullptr) {
        const EventTracker& tracker = table.events()->tracker();
        const std::vector<Event>& events = tracker.eventsSoFar();
        out += "<h2>Flagged moments</h2>\n";
        size_t shown = 0;
        std::string figures;
        for (size_t i = 0; i < events.size(); ++i) {
            const Event& e = events[i];
            const bool long_ = e.end - e.start > kLongEvent;
            const Picture* p = long_ ? thumbs.eventWorst(i) : thumbs.eventFirst(i);
            if (p == nullptr || !p->kept()) {
                continue;
            }
            ++shown;
            const std::string caption =
                format("<b>%s</b> <span class=\"sev%d\">%s</span><br>", std::string(kIndicators[e.column].key).c_str(),
                       static_cast<int>(e.severity), std::string(severityName(e.severity)).c_str()) +
                format("frames %lld&ndash;%lld, %.3f&ndash;%.3f s<br>", static_cast<long long>(e.first),
                       static_cast<long long>(e.last), e.start, e.end) +
                (long_ ? "worst" : "first") + format(" frame %lld: ", static_cast<long long>(p->frame)) +
                number("%.6g", p->value);
            picture(figures, *p, e.column, thumbs, encoder, caption, e.start, e.end);
        }
        if (events.empty()) {
            out += "<p>No events.</p>\n";
        } else if (shown < events.size()) {
            out += format("<p>Pictures of %zu of the %zu events (at most %zu are kept: the most severe, and every "
                          "kind before many of one).</p>\n",
                          shown, events.size(), thumbs.eventLimit());
        }
        out += "<div class=\"thumbs\">\n" + figures + "</div>\n";
    }
    out += "<h2>Extreme frames</h2>\n<div class=\"thumbs\">\n";
    const double period = table.info().fps > 0 ? 1.0 / table.info().fps : 0.0;
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        const Picture& p = thumbs.extreme(c);
        if (!table.columns()[c] || !p.kept()) {
            continue;
        }
        const Worse worse = worseDirection(static_cast<Column>(c));
        const char* which = worse == Worse::Higher  ? "highest"
                            : worse == Worse::Lower ? "lowest"
                                                    : "furthest from grey";
        const std::string caption = "<b>" + std::string(kIndicators[c].key) + "</b> " + which + " " +
                                    number("%.6g", p.value) +
                                    format("<br>frame %lld, %.3f s", static_cast<long long>(p.frame), p.seconds);
        picture(out, p, static_cast<Column>(c), thumbs, encoder, caption, p.seconds - 5 * period,
                p.seconds + 6 * period);
    }
    out += "</div>\n";
}

// The values of one input that the script needs for the tooltip and for
// zooming: its name, the end of its last frame in seconds, the frames in at
// most kBuckets groups, each group's first frame, time, and every
// indicator's minimum and maximum over it.
void series(std::string& out, const ResultTable& table) {
    const int64_t n = table.frames();
    const int64_t buckets = std::min(n, kBuckets);
    const auto rowOf = [&](int64_t k) { return k * n / buckets; };
    double last = -INFINITY;
    for (int64_t row = 0; row < n; ++row) {
        last = std::max(last, table.time(row));
    }
    out += "\"name\":" + jsonText(table.info().path) + ",";
    out += "\"last\":" + jsonNumber("%.9g", last + (table.info().fps > 0 ? 1.0 / table.info().fps : 0.0)) + ",";
    out += format("\"end\":%lld,\"first\":[", static_cast<long long>(n > 0 ? table.indexOf(n - 1) + 1 : 0));
    for (int64_t k = 0; k < buckets; ++k) {
        out += (k ? "," : "") + std::to_string(table.indexOf(rowOf(k)));
    }
    out += "],\"time\":[";
    for (int64_t k = 0; k < buckets; ++k) {
        out += (k ? "," : "") + format("%.9g", table.time(rowOf(k)));
    }
    out += "],\"cols\":{";
    bool firstColumn = true;
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!table.columns()[c]) {
            continue;
        }
        std::string lo, hi;
        for (int64_t k = 0; k < buckets; ++k) {
            double mn = INFINITY, mx = -INFINITY;
            for (int64_t row = rowOf(k); row < rowOf(k + 1); ++row) {
                const double v = table.value(row, c);
                if (std::isfinite(v)) {
                    mn = std::min(mn, v);
                    mx = std::max(mx, v);
                }
            }
            lo += (k ? "," : "") + jsonNumber("%.6g", mn);
            hi += (k ? "," : "") + jsonNumber("%.6g", mx);
        }
        out += std::string(firstColumn ? "" : ",") + "\"" + std::string(kIndicators[c].key) + "\":{\"lo\":[" + lo +
               "]" + (buckets < n ? ",\"hi\":[" + hi + "]" : "") + "}";
        firstColumn = false;
    }
    out += "}";
}

// The main input's values at the top level, the compared ones' in "more".
void data(std::string& out, const std::vector<const ResultTable*>& tables, const Axis& a) {
    out += "<script type=\"application/json\" id=\"nrvq-data\">{";
    out += format("\"t0\":%.9g,\"t1\":%.9g,", a.t0, a.t1);
    out += format("\"left\":%g,\"top\":%g,\"plotW\":%g,\"plotH\":%g,\"width\":%g,", kLeft, kTop, kPlotW, kPlotH,
                  kWidth);
    series(out, *tables[0]);
    out += ",\"more\":[";
    for (size_t k = 1; k < tables.size(); ++k) {
        out += k > 1 ? ",{" : "{";
        series(out, *tables[k]);
        out += "}";
    }
    out += "]}</script>\n";
}

constexpr const char* kStyle = R"(
body { font: 14px/1.4 sans-serif; color: #222; max-width: 1240px; margin: 0 auto; padding: 16px; }
h1 { font-size: 22px; margin: 0 0 8px; }
h2 { font-size: 17px; margin: 20px 0 6px; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }
th:first-child, td:first-child { text-align: left; }
.verdict { display: flex; gap: 16px; align-items: center; padding: 10px 14px; border-radius: 6px; margin: 8px 0; }
.verdict b { font-size: 26px; letter-spacing: 1px; }
.pass { background: #dff3e2; } .warning { background: #fff0cc; } .fail { background: #f8d3cf; }
.sev0 { color: #6a4fb0; } .sev1 { color: #a86a00; } .sev2 { color: #8b0000; font-weight: bold; }
.top { display: flex; gap: 28px; flex-wrap: wrap; align-items: flex-start; }
figure { margin: 0 0 4px; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-size: 13px; }
svg { width: 100%; height: auto; display: block; font: 13px sans-serif; fill: #444; }
svg.chart { cursor: crosshair; user-select: none; }
.ticks line { stroke: #999; } .cursor { stroke: #222; stroke-width: 1; pointer-events: none; }
.selection { fill: #3f8fe0; fill-opacity: 0.2; pointer-events: none; }
.thumbs { display: flex; flex-wrap: wrap; gap: 10px; }
.thumb { width: min-content; cursor: zoom-in; }
.thumb figcaption { font-size: 12px; }
.pic { position: relative; line-height: 0; }
.pic svg { position: absolute; left: 0; top: 0; width: 100%; height: 100%; }
.key span { display: inline-block; width: 14px; height: 10px; margin: 0 4px 0 12px; opacity: 0.7; }
#tip { position: absolute; display: none; background: #fff; border: 1px solid #888; padding: 3px 6px;
  font-size: 12px; pointer-events: none; white-space: pre; box-shadow: 1px 1px 4px #0003; }
.input { white-space: nowrap; margin-left: 12px; font-size: 12px; }
.input span { display: inline-block; width: 14px; height: 3px; margin: 0 4px 3px 0; }
#zoom { font-size: 12px; }
@media print { body { max-width: none; padding: 0; font-size: 11px; } #tip, #zoom { display: none; }
  table { font-size: 10px; } }
)";

// Tooltip, cursor and zoom. Charts are drawn once on the page; zooming
// draws them again from the groups of the data block.
constexpr const char* kScript = R"(
(function () {
  const D = JSON.parse(document.getElementById('nrvq-data').textContent);
  const svgs = Array.from(document.querySelectorAll('svg.chart'));
  const tip = document.getElementById('tip'), zoomText = document.getElementById('zoom-range');
  const series = [D].concat(D.more);
  const paths_ = s => [0, 1].map(n => Array.from(s.querySelectorAll(n ? '.dots' : '.line'))
    .sort((a, b) => a.dataset.s - b.dataset.s));
  const full = svgs.map(s => [paths_(s).map(p => p.map(e => e.getAttribute('d'))),
    s.querySelector('.ticks').innerHTML]);
  let view = [D.t0, D.t1], zoomed = false;
  for (const S of series) for (const k in S.cols) { if (!S.cols[k].hi) S.cols[k].hi = S.cols[k].lo; }
  const xOf = t => D.left + (t - view[0]) / (view[1] - view[0]) * D.plotW;
  const timeAt = x => view[0] + (x - D.left) / D.plotW * (view[1] - view[0]);
  const svgX = (svg, clientX) => {
    const r = svg.getBoundingClientRect();
    return (clientX - r.left) * D.width / r.width;
  };
  function bucketAt(t, S = D) {
    let lo = 0, hi = S.time.length - 1;
    while (lo < hi) { const m = (lo + hi + 1) >> 1; if (S.time[m] <= t) lo = m; else hi = m - 1; }
    return lo;
  }
  const num = v => v === null ? 'no value' : String(+v.toPrecision(6));
  function timeText(s, clock) {
    if (!clock) return (Math.round(s * 1000) / 1000) + ' s';
    s = Math.floor(s); const p = n => String(n).padStart(2, '0');
    return s >= 3600 ? Math.floor(s / 3600) + ':' + p(Math.floor(s / 60) % 60) + ':' + p(s % 60)
                     : Math.floor(s / 60) + ':' + p(s % 60);
  }
  function ticks(y) {
    const raw = (view[1] - view[0]) / 8, base = Math.pow(10, Math.floor(Math.log10(raw)));
    let step = base;
    for (const m of [2, 5, 10]) if (step * 1.0001 < raw) step = base * m;
    const clock = view[1] - view[0] >= 600;
    if (clock) step = Math.max(60, Math.ceil(step / 60) * 60);
    let s = '';
    for (let t = Math.ceil(view[0] / step) * step; t <= view[1] + step * 1e-9; t += step) {
      const x = xOf(t).toFixed(1);
      s += '<line x1="' + x + '" x2="' + x + '" y1="' + (y - 4) + '" y2="' + y + '"/><text x="' + x + '" y="' +
           (y + 12) + '" text-anchor="middle">' + timeText(t, clock) + '</text>';
    }
    return s;
  }
  function paths(S, c, lo, hi) {
    const y = v => (D.top + (hi - v) / (hi - lo) * D.plotH).toFixed(1);
    if (S.time.length === 0) return ['', ''];
    const i0 = bucketAt(view[0], S), i1 = bucketAt(view[1], S);
    let line = '', dots = '', drawing = false;
    if (i1 - i0 < D.plotW) {
      for (let i = i0; i <= i1; i++) {
        if (c.lo[i] === null) { drawing = false; continue; }
        const x = xOf(S.time[i]).toFixed(1);
        const isolated = !drawing && (i + 1 > i1 || c.lo[i + 1] === null) && c.lo[i] === c.hi[i];
        if (isolated) dots += 'M' + x + ' ' + y(c.lo[i]) + 'h0.01';
        else line += (drawing ? 'L' : 'M') + x + ' ' + y(c.hi[i]) +
                     (c.lo[i] !== c.hi[i] ? 'L' + x + ' ' + y(c.lo[i]) : '');
        drawing = true;
      }
      return [line, dots];
    }
    const W = Math.floor(D.plotW), mn = new Array(W).fill(Infinity), mx = new Array(W).fill(-Infinity);
    for (let i = i0; i <= i1; i++) {
      if (c.lo[i] === null) continue;
      const k = Math.min(W - 1, Math.max(0, Math.floor((S.time[i] - view[0]) / (view[1] - view[0]) * W)));
      mn[k] = Math.min(mn[k], c.lo[i]); mx[k] = Math.max(mx[k], c.hi[i]);
    }
    for (let k = 0; k < W; k++) {
      if (!(mn[k] <= mx[k])) { drawing = false; continue; }
      const x = (D.left + k + 0.5).toFixed(1);
      line += (drawing ? 'L' : 'M') + x + ' ' + y(mx[k]) + (mn[k] !== mx[k] ? 'L' + x + ' ' + y(mn[k]) : '');
      drawing = true;
    }
    return [line, dots];
  }
  function draw() {
    svgs.forEach((s, n) => {
      for (const b of s.querySelectorAll('.band')) {
        const a = Math.max(D.left, Math.min(D.left + D.plotW, xOf(+b.dataset.a)));
        const e = Math.max(D.left, Math.min(D.left + D.plotW, xOf(+b.dataset.b)));
        b.setAttribute('x', a.toFixed(1)); b.setAttribute('width', Math.max(0.8, e - a).toFixed(1));
        b.setAttribute('visibility', e <= D.left || a >= D.left + D.plotW ? 'hidden' : 'visible');
      }
      const t = s.querySelector('.ticks'), f = s.querySelector('.frame'), p = paths_(s);
      if (!zoomed) {
        p.forEach((kind, j) => kind.forEach((e, k) => e.setAttribute('d', full[n][0][j][k])));
        t.innerHTML = full[n][1]; return;
      }
      t.innerHTML = ticks(+f.getAttribute('y') + +f.getAttribute('height') + 4);
      if (s.dataset.key) {
        series.forEach((S, k) => {
          const d = paths(S, S.cols[s.dataset.key], +s.dataset.lo, +s.dataset.hi);
          p[0][k].setAttribute('d', d[0]); p[1][k].setAttribute('d', d[1]);
        });
      }
    });
    zoomText.textContent = zoomed ? timeText(view[0], false) + ' to ' + timeText(view[1], false) : 'everything';
  }
  function zoom(a, b) {
    a = Math.max(D.t0, a); b = Math.min(D.t1, b);
    if (!(b > a)) return;
    view = [a, b]; zoomed = a > D.t0 || b < D.t1; draw();
  }
  function reset() { view = [D.t0, D.t1]; zoomed = false; draw(); }
  let drag = null;
  // The main input's value and frames at the pointer, then each compared
  // input's on a line of its own.
  function describe(s, x) {
    const t = timeAt(x), key = s.dataset.key;
    return series.map((S, k) => {
      const i = bucketAt(t, S);
      if (S.time.length === 0 || (k > 0 && (t < S.time[0] || t >= S.last))) return S.name + ': no frame';
      const last = (i + 1 < S.first.length ? S.first[i + 1] : S.end) - 1;
      const frames = last > S.first[i] ? 'frames ' + S.first[i] + '\u2013' + last : 'frame ' + S.first[i];
      let text = frames + ' \u00b7 ' + timeText(S.time[i], false);
      if (key) {
        const c = S.cols[key];
        text = (c.lo[i] === c.hi[i] ? num(c.lo[i]) : num(c.lo[i]) + ' \u2026 ' + num(c.hi[i])) + ' \u00b7 ' + text;
      }
      return k > 0 ? S.name + ': ' + text
                   : (key ? key + ' ' : '') + text + (series.length > 1 ? ' \u00b7 ' + S.name : '');
    }).join('\n');
  }
  for (const s of svgs) {
    s.addEventListener('mousemove', ev => {
      const x = svgX(s, ev.clientX);
      const inside = x >= D.left && x <= D.left + D.plotW;
      for (const o of svgs) {
        const c = o.querySelector('.cursor');
        c.setAttribute('x1', x); c.setAttribute('x2', x); c.setAttribute('visibility', inside ? 'visible' : 'hidden');
      }
      if (drag && drag.svg === s) {
        const sel = s.querySelector('.selection'), a = Math.min(drag.x, x), b = Math.max(drag.x, x);
        sel.setAttribute('x', a); sel.setAttribute('width', b - a); sel.setAttribute('visibility', 'visible');
      }
      if (!inside || D.time.length === 0) { tip.style.display = 'none'; return; }
      tip.textContent = describe(s, x);
      tip.style.display = 'block';
      tip.style.left = (ev.pageX + 14) + 'px'; tip.style.top = (ev.pageY + 14) + 'px';
    });
    s.addEventListener('mouseleave', () => { tip.style.display = 'none';
      for (const o of svgs) o.querySelector('.cursor').setAttribute('visibility', 'hidden'); });
    s.addEventListener('mousedown', ev => { drag = {svg: s, x: svgX(s, ev.clientX)}; ev.preventDefault(); });
    s.addEventListener('dblclick', reset);
  }
  window.addEventListener('mouseup', ev => {
    if (!drag) return;
    const x = svgX(drag.svg, ev.clientX), a = Math.min(drag.x, x), b = Math.max(drag.x, x);
    drag.svg.querySelector('.selection').setAttribute('visibility', 'hidden');
    drag = null;
    if (b - a > 3) zoom(timeAt(a), timeAt(b));
  });
  document.getElementById('zoom-reset').addEventListener('click', reset);
  for (const f of document.querySelectorAll('.thumb')) {
    f.addEventListener('click', () => {
      const a = +f.dataset.a, b = +f.dataset.b, m = Math.max((b - a) * 2, (D.t1 - D.t0) / 200);
      zoom(a - m, b + m);
      document.getElementById('charts').scrollIntoView();
    });
  }
  document.body.dataset.ready = 'yes';
})();
)";

}  // namespace

std::string htmlReport(const ResultTable& table, const std::string& version, const ThumbnailCollector* thumbnails,
                       ThumbnailEncoder* encoder, const std::vector<const ResultTable*>& compared) {
    const SourceInfo& info = table.info();
    std::vector<const ResultTable*> tables = {&table};
    tables.insert(tables.end(), compared.begin(), compared.end());
    const Axis axis = axisOf(tables);
    const auto duration = [](const ResultTable& t) {
        const Axis own = axisOf({&t});
        return t.frames() > 0 ? own.t1 - own.t0 : 0.0;
    };
    const std::vector<FrameSpan> blackout = table.spans(kBlackout);
    const std::vector<FrameSpan> freezing = table.spans(kFreezing);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>nrvq report: " +
                      escaped(info.path) + "</title>\n<style>" + kStyle + "</style></head>\n<body>\n";
    out += "<h1>nrvq report: " + escaped(info.path) + "</h1>\n";

    // The verdict: the most severe event's severity, then the counts.
    const auto countsOf = [](const ResultTable& t) {
        std::array<std::array<int64_t, 3>, kIndicatorCount> counts{};
        if (t.events() != nullptr) {
            for (const Event& e : t.events()->tracker().eventsSoFar()) {
                ++counts[e.column][static_cast<size_t>(e.severity)];
            }
        }
        return counts;
    };
    const auto totalsOf = [](const std::array<std::array<int64_t, 3>, kIndicatorCount>& counts) {
        std::array<int64_t, 3> totals{};
        for (const auto& c : counts) {
            for (size_t s = 0; s < 3; ++s) {
                totals[s] += c[s];
            }
        }
        return totals;
    };
    const auto verdictOf = [](const std::array<int64_t, 3>& totals) {
        return totals[2] > 0 ? "fail" : totals[1] > 0 ? "warning" : "pass";
    };
    const std::array<std::array<int64_t, 3>, kIndicatorCount> counts = countsOf(table);
    const std::array<int64_t, 3> totals = totalsOf(counts);
    out += format("<div class=\"verdict %s\" id=\"verdict\"><b>%s</b><span>", verdictOf(totals),
                  totals[2] > 0 ? "FAIL" : totals[1] > 0 ? "WARNING" : "PASS") +
           format("%lld fatal, %lld warning and %lld info events in %lld frames (%.3f s)",
                  static_cast<long long>(totals[2]), static_cast<long long>(totals[1]),
                  static_cast<long long>(totals[0]), static_cast<long long>(table.frames()), duration(table)) +
           (table.events() == nullptr ? " (events not followed)" : "") + "</span></div>\n";

    out += "<div class=\"top\"><div><h2>Events by kind</h2>\n<table>\n<tr><th>indicator</th><th>fatal</th>"
           "<th>warning</th><th>info</th></tr>\n";
    bool anyEvent = false;
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (counts[c][0] + counts[c][1] + counts[c][2] == 0) {
            continue;
        }
        anyEvent = true;
        out += "<tr><td>" + std::string(kIndicators[c].key) + "</td>";
        for (const size_t s : {2, 1, 0}) {
            out += format("<td class=\"sev%zu\">", s) + (counts[c][s] ? std::to_string(counts[c][s]) : "") + "</td>";
        }
        out += "</tr>\n";
    }
    if (!anyEvent) {
        out += "<tr><td colspan=\"4\">none</td></tr>\n";
    }
    out += "</table></div>\n<div><h2>Input</h2>\n<table>\n";
    const auto row = [&out](const std::string& name, const std::string& value) {
        out += "<tr><td>" + name + "</td><td>" + value + "</td></tr>\n";
    };
    row("path", escaped(info.path));
    row("kind", escaped(info.kind));
    row("size", std::to_string(info.width) + " &times; " + std::to_string(info.height));
    row("frame rate", number("%.3f", info.fps));
    row("layout", escaped(info.layout));
    row("first frame", std::to_string(table.firstIndex()));
    row("frames examined", std::to_string(table.frames()));
    row("duration", table.frames() > 0 ? format("%.3f s", duration(table)) : "&ndash;");
    row("nrvq version", escaped(version));
    out += "</table></div></div>\n";

    if (!compared.empty()) {
        out += "<h2>Compared inputs</h2>\n<table id=\"compared\">\n<tr><th>input</th><th>verdict</th><th>fatal</th>"
               "<th>warning</th><th>info</th><th>frames</th><th>duration</th><th>size</th><th>frame rate</th></tr>\n";
        for (size_t k = 0; k < tables.size(); ++k) {
            const ResultTable& t = *tables[k];
            const std::array<int64_t, 3> sums = totalsOf(countsOf(t));
            out += std::string("<tr><td><span class=\"input\"><span style=\"background:") + lineColour(k) +
                   "\"></span>" + escaped(t.info().path) + "</span></td>" +
                   format("<td class=\"%s\">%s</td>", verdictOf(sums), verdictOf(sums));
            for (const size_t sev : {2, 1, 0}) {
                out += format("<td class=\"sev%zu\">%lld</td>", sev, static_cast<long long>(sums[sev]));
            }
            out += "<td>" + std::to_string(t.frames()) + "</td><td>" + format("%.3f s", duration(t)) + "</td><td>" +
                   std::to_string(t.info().width) + " &times; " + std::to_string(t.info().height) + "</td><td>" +
                   number("%.3f", t.info().fps) + "</td></tr>\n";
        }
        out += "</table>\n";
    }
    for (size_t k = 0; k < tables.size(); ++k) {
        const ResultTable& t = *tables[k];
        const bool has = t.events() != nullptr && !t.events()->tracker().eventsSoFar().empty();
        if (t.frames() > 0 && has) {
            out += "<h2>Timeline of the events" +
                   (compared.empty() ? std::string() : ": " + escaped(t.info().path)) + "</h2>\n";
            timeline(out, t, axis, k == 0 ? "timeline" : format("timeline-%zu", k));
        }
    }
    if (thumbnails != nullptr && encoder != nullptr && table.frames() > 0) {
        pictures(out, table, *thumbnails, *encoder);
    }

    out += std::string("<h2 id=\"charts\">Indicators over time</h2>\n<p class=\"key\">shaded:<span "
                       "style=\"background:") +
           kBlackoutFill + "\"></span>blackout<span style=\"background:" + kFreezingFill +
           "\"></span>freezing<span style=\"background:" + kSeverityFill[0] + "\"></span>info event<span "
           "style=\"background:" + kSeverityFill[1] + "\"></span>warning event<span style=\"background:" +
           kSeverityFill[2] + "\"></span>fatal event (the strip above each chart: every event)" +
           (compared.empty() ? "" : "; spans and events of " + escaped(info.path)) + "</p>\n"
           "<p id=\"zoom\">Drag across a chart to zoom all of them; double-click or <button id=\"zoom-reset\">"
           "show everything</button>. Showing <span id=\"zoom-range\">everything</span>.</p>\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (table.columns()[c]) {
            chart(out, tables, c, axis, blackout, freezing);
        }
    }

    out += std::string("<h2>Summary</h2>\n<table>\n<tr><th>indicator</th>") +
           (compared.empty() ? "" : "<th>input</th>") +
           "<th>count</th><th>mean</th><th>min</th><th>max</th><th>p5</th><th>p50</th><th>p95</th><th>stddev</th>"
           "<th>left out</th></tr>\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!table.columns()[c]) {
            continue;
        }
        for (size_t k = 0; k < tables.size(); ++k) {
            const IndicatorStats s = tables[k]->stats(c);
            out += "<tr><td>" + std::string(kIndicators[c].key) + "</td>" +
                   (compared.empty() ? "" : "<td>" + escaped(tables[k]->info().path) + "</td>") + "<td>" +
                   std::to_string(s.count) + "</td>";
            for (const double v : {s.mean, s.min, s.max, s.p5, s.p50, s.p95, s.stddev}) {
                out += "<td>" + number("%.6g", v) + "</td>";
            }
            out += "<td>" + std::to_string(s.leftOut) + "</td></tr>\n";
        }
    }
    out += "</table>\n";
    if (table.events() != nullptr && anyEvent) {
        const EventTracker& tracker = table.events()->tracker();
        out += "<h2>Events</h2>\n<table>\n<tr><th>indicator</th><th>severity</th><th>frames</th><th>seconds</th>"
               "<th>peak</th><th>rule</th></tr>\n";
        const std::vector<Event>& events = tracker.eventsSoFar();
        for (size_t i = 0; i < std::min(events.size(), kEventRows); ++i) {
            const Event& e = events[i];
            out += "<tr><td>" + std::string(kIndicators[e.column].key) + "</td>" +
                   format("<td class=\"sev%d\">", static_cast<int>(e.severity)) +
                   std::string(severityName(e.severity)) + "</td><td>" + std::to_string(e.first) + "&ndash;" +
                   std::to_string(e.last) + "</td><td>" + number("%.3f", e.start) + "&ndash;" +
                   number("%.3f", e.end) + "</td><td>" + number("%.6g", e.peak) + "</td><td>" +
                   escaped(tracker.rules()[e.rule].text()) + "</td></tr>\n";
        }
        out += "</table>\n";
        if (events.size() > kEventRows) {
            out += format("<p>The first %zu of %zu events; all of them are in the output of --events or --json.</p>\n",
                          kEventRows, events.size());
        }
    }
    out += "<div id=\"tip\"></div>\n";
    data(out, tables, axis);
    out += std::string("<script>") + kScript + "</script>\n</body></html>\n";
    return out;
}

HtmlReport::HtmlReport(PreparedOutput& target, const ResultTable& table, std::string version,
                       const ThumbnailCollector* thumbnails)
    : WholeFileOutput(target, "the report"), table_(table), version_(std::move(version)), thumbnails_(thumbnails) {}

void HtmlReport::write(OutputFile& file) {
    std::unique_ptr<ThumbnailEncoder> encoder = thumbnails_ != nullptr ? makePngEncoder() : nullptr;
    file.write(htmlReport(table_, version_, thumbnails_, encoder.get(), compared_));
}

}  // namespace nrvq
