#include "io/report.h"

#include "io/events_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace nrvq {

namespace {

// Chart geometry in SVG units; the page scales it to its width.
constexpr double kWidth = 1000, kHeight = 190;
constexpr double kLeft = 70, kRight = 12, kTop = 12, kBottom = 28;
constexpr const char* kBlackoutFill = "#4b4b4b";
constexpr const char* kFreezingFill = "#3f8fe0";

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

std::string number(const char* format, double value) {
    if (!std::isfinite(value)) {
        return "&ndash;";
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

void chart(std::string& out, const ResultTable& table, size_t column, const std::vector<FrameSpan>& blackout,
           const std::vector<FrameSpan>& freezing) {
    const int64_t n = table.frames();
    double low = INFINITY, high = -INFINITY;
    for (int64_t row = 0; row < n; ++row) {
        const double v = table.value(row, column);
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    const bool any = low <= high;
    if (!any) {
        low = 0, high = 1;
    } else if (low == high) {
        low -= 0.5, high += 0.5;
    }
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    const double first = static_cast<double>(table.firstIndex());
    const double span = n > 1 ? static_cast<double>(n - 1) : 1.0;
    const auto x = [&](double frame) { return kLeft + (frame - first) / span * plotW; };
    const auto y = [&](double v) { return kTop + (high - v) / (high - low) * plotH; };
    char buffer[160];
    const auto add = [&](int length) { out.append(buffer, static_cast<size_t>(std::max(0, length))); };

    out += "<figure><figcaption>" + std::string(kIndicators[column].key) + "</figcaption>\n";
    add(std::snprintf(buffer, sizeof buffer,
                      "<svg viewBox=\"0 0 %g %g\" role=\"img\" aria-label=\"%s over the frame index\">\n", kWidth,
                      kHeight, std::string(kIndicators[column].key).c_str()));
    // A frame's span covers half a frame either side of its index.
    const double half = n > 1 ? plotW / span / 2 : plotW / 2;
    for (const auto& [spans, fill] : {std::pair{&blackout, kBlackoutFill}, std::pair{&freezing, kFreezingFill}}) {
        for (const FrameSpan& s : *spans) {
            const double left = std::max(kLeft, x(static_cast<double>(s.first)) - half);
            const double right = std::min(kLeft + plotW, x(static_cast<double>(s.last)) + half);
            add(std::snprintf(buffer, sizeof buffer,
                              "<rect x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\" fill=\"%s\" "
                              "fill-opacity=\"0.28\"/>\n",
                              left, kTop, right - left, plotH, fill));
        }
    }
    add(std::snprintf(buffer, sizeof buffer,
                      "<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" fill=\"none\" stroke=\"#999\"/>\n", kLeft,
                      kTop, plotW, plotH));
    // The line breaks where a frame has no value.
    out += "<path fill=\"none\" stroke=\"#c0392b\" stroke-width=\"1.6\" stroke-linejoin=\"round\" d=\"";
    bool drawing = false;
    std::string dots;  // values with no neighbour to join, drawn as points
    for (int64_t row = 0; row < n; ++row) {
        const double v = table.value(row, column);
        if (!std::isfinite(v)) {
            drawing = false;
            continue;
        }
        const double px = x(static_cast<double>(table.indexOf(row)));
        const double py = y(v);
        const bool isolated = !drawing && (row + 1 >= n || !std::isfinite(table.value(row + 1, column)));
        if (isolated) {
            const int length = std::snprintf(buffer, sizeof buffer, "M%.2f %.2fh0.01", px, py);
            dots.append(buffer, static_cast<size_t>(std::max(0, length)));
        } else {
            add(std::snprintf(buffer, sizeof buffer, "%c%.2f %.2f", drawing ? 'L' : 'M', px, py));
        }
        drawing = true;
    }
    out += "\"/>\n<path fill=\"none\" stroke=\"#c0392b\" stroke-width=\"5\" stroke-linecap=\"round\" d=\"" + dots +
           "\"/>\n";
    const auto label = [&](double lx, double ly, const char* anchor, const std::string& text) {
        add(std::snprintf(buffer, sizeof buffer, "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"%s\">", lx, ly, anchor));
        out += text + "</text>\n";
    };
    if (any) {
        label(kLeft - 6, kTop + 10, "end", number("%.4g", high));
        label(kLeft - 6, kTop + plotH, "end", number("%.4g", low));
    } else {
        label(kLeft + plotW / 2, kTop + plotH / 2, "middle", "no values");
    }
    label(kLeft, kHeight - 8, "start", std::to_string(table.firstIndex()));
    label(kLeft + plotW, kHeight - 8, "end", std::to_string(table.indexOf(std::max<int64_t>(n - 1, 0))));
    label(kLeft + plotW / 2, kHeight - 8, "middle", "frame");
    out += "</svg></figure>\n";
}

constexpr const char* kStyle = R"(
body { font: 14px/1.4 sans-serif; color: #222; max-width: 1240px; margin: 0 auto; padding: 16px; }
h1 { font-size: 22px; margin: 0 0 8px; }
h2 { font-size: 17px; margin: 20px 0 6px; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }
th:first-child, td:first-child { text-align: left; }
.charts { display: grid; grid-template-columns: 1fr 1fr; gap: 6px 18px; }
figure { margin: 0; break-inside: avoid; page-break-inside: avoid; }
figcaption { font-weight: bold; font-size: 13px; }
svg { width: 100%; height: auto; display: block; font: 15px sans-serif; fill: #444; }
.key span { display: inline-block; width: 14px; height: 10px; margin: 0 4px 0 12px; opacity: 0.6; }
@media print { body { max-width: none; padding: 0; font-size: 11px; } .charts { gap: 2px 10px; }
  table { font-size: 10px; } }
)";

}  // namespace

std::string htmlReport(const ResultTable& table, const std::string& version) {
    const SourceInfo& info = table.info();
    const std::vector<FrameSpan> blackout = table.spans(kBlackout);
    const std::vector<FrameSpan> freezing = table.spans(kFreezing);
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>nrvq report: " +
                      escaped(info.path) + "</title>\n<style>" + kStyle + "</style></head>\n<body>\n";
    out += "<h1>nrvq report: " + escaped(info.path) + "</h1>\n<h2>Input</h2>\n<table>\n";
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
    row("nrvq version", escaped(version));
    out += "</table>\n<h2>Summary</h2>\n<table>\n<tr><th>indicator</th><th>count</th><th>mean</th><th>min</th>"
           "<th>max</th><th>p5</th><th>p50</th><th>p95</th><th>stddev</th><th>left out</th></tr>\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!table.columns()[c]) {
            continue;
        }
        const IndicatorStats s = table.stats(c);
        out += "<tr><td>" + std::string(kIndicators[c].key) + "</td><td>" + std::to_string(s.count) + "</td>";
        for (const double v : {s.mean, s.min, s.max, s.p5, s.p50, s.p95, s.stddev}) {
            out += "<td>" + number("%.6g", v) + "</td>";
        }
        out += "<td>" + std::to_string(s.leftOut) + "</td></tr>\n";
    }
    out += "</table>\n<h2>Events</h2>\n<p>";
    for (const auto& [name, spans] : {std::pair{"blackout", &blackout}, std::pair{"freezing", &freezing}}) {
        out += std::string(name) + ":";
        if (spans->empty()) {
            out += " none";
        }
        for (const FrameSpan& s : *spans) {
            out += " " + std::to_string(s.first) + (s.first == s.last ? "" : "&ndash;" + std::to_string(s.last));
        }
        out += "<br>\n";
    }
    out += "</p>\n";
    if (table.events() != nullptr) {
        const EventTracker& tracker = table.events()->tracker();
        out += "<table>\n<tr><th>indicator</th><th>severity</th><th>frames</th><th>seconds</th><th>peak</th>"
               "<th>rule</th></tr>\n";
        for (const Event& e : tracker.events()) {
            out += "<tr><td>" + std::string(kIndicators[e.column].key) + "</td><td>" +
                   std::string(severityName(e.severity)) + "</td><td>" + std::to_string(e.first) + "&ndash;" +
                   std::to_string(e.last) + "</td><td>" + number("%.3f", e.start) + "&ndash;" +
                   number("%.3f", e.end) + "</td><td>" + number("%.6g", e.peak) + "</td><td>" +
                   escaped(tracker.rules()[e.rule].text()) + "</td></tr>\n";
        }
        out += "</table>\n";
    }
    out += std::string("<h2>Indicators over the frames</h2>\n<p class=\"key\">shaded:<span style=\"background:") +
           kBlackoutFill + "\"></span>blackout<span style=\"background:" + kFreezingFill +
           "\"></span>freezing</p>\n<div class=\"charts\">\n";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (table.columns()[c]) {
            chart(out, table, c, blackout, freezing);
        }
    }
    out += "</div>\n</body></html>\n";
    return out;
}

HtmlReport::HtmlReport(PreparedOutput& target, const ResultTable& table, std::string version)
    : file_(target, "the report"), table_(table), version_(std::move(version)) {}

void HtmlReport::finish(const RunSummary&) {
    file_.write(htmlReport(table_, version_));
    file_.close();
}

}  // namespace nrvq
