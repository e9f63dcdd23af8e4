#include "io/results.h"

#include "io/events_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace nrvq {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// Reserve no more than this many frames up front for a count the input
// announces; past it the array grows as frames come.
constexpr int64_t kReserveLimit = int64_t{1} << 20;

}  // namespace

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return kNone;
    }
    const double rank = p * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(std::floor(rank));
    const size_t above = std::min(below + 1, sorted.size() - 1);
    const double fraction = rank - static_cast<double>(below);
    return sorted[below] + (sorted[above] - sorted[below]) * fraction;
}

void ResultTable::begin(const SourceInfo& info) {
    info_ = info;
    firstIndex_ = info.startFrame;
    values_.clear();
    times_.clear();
    if (info.frameCount > 0) {
        values_.reserve(static_cast<size_t>(std::min(info.frameCount, kReserveLimit)) * kIndicatorCount);
        times_.reserve(static_cast<size_t>(std::min(info.frameCount, kReserveLimit)));
    }
}

void ResultTable::frame(const FrameRecord& record) {
    if (values_.empty()) {
        firstIndex_ = record.index;
    }
    times_.push_back(record.seconds);
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        values_.push_back(isMeasured(record, static_cast<Column>(c)) ? record.values[c] : kNone);
    }
}

IndicatorStats ResultTable::stats(size_t column) const {
    std::vector<double> sorted;
    sorted.reserve(static_cast<size_t>(frames()));
    for (int64_t row = 0; row < frames(); ++row) {
        const double v = value(row, column);
        if (std::isfinite(v)) {
            sorted.push_back(v);
        }
    }
    IndicatorStats s;
    s.count = static_cast<int64_t>(sorted.size());
    s.leftOut = frames() - s.count;
    if (sorted.empty()) {
        s.mean = s.min = s.max = s.p5 = s.p50 = s.p95 = s.stddev = kNone;
        return s;
    }
    double sum = 0;
    for (const double v : sorted) {
        sum += v;
    }
    s.mean = sum / static_cast<double>(s.count);
    double squares = 0;
    for (const double v : sorted) {
        squares += (v - s.mean) * (v - s.mean);
    }
    s.stddev = std::sqrt(squares / static_cast<double>(s.count));
    std::sort(sorted.begin(), sorted.end());
    s.min = sorted.front();
    s.max = sorted.back();
    s.p5 = percentile(sorted, 0.05);
    s.p50 = percentile(sorted, 0.50);
    s.p95 = percentile(sorted, 0.95);
    return s;
}

std::vector<FrameSpan> ResultTable::spans(Column column) const {
    std::vector<FrameSpan> result;
    for (int64_t row = 0; row < frames(); ++row) {
        if (value(row, column) != 1.0) {
            continue;
        }
        if (!result.empty() && result.back().last == indexOf(row) - 1) {
            result.back().last = indexOf(row);
        } else {
            result.push_back({indexOf(row), indexOf(row)});
        }
    }
    return result;
}

std::string summaryTable(const ResultTable& table) {
    std::string text;
    char line[256];
    const auto add = [&](int n) { text.append(line, static_cast<size_t>(std::max(0, n))); };
    if (table.frames() == 0) {
        return "Summary: no frames examined\n";
    }
    add(std::snprintf(line, sizeof line, "Summary of %lld frames (%lld ... %lld)\n",
                      static_cast<long long>(table.frames()), static_cast<long long>(table.firstIndex()),
                      static_cast<long long>(table.indexOf(table.frames() - 1))));
    add(std::snprintf(line, sizeof line, "%-18s %7s %12s %12s %12s %12s %12s %12s %12s %8s\n", "indicator", "count",
                      "mean", "min", "max", "p5", "p50", "p95", "stddev", "left out"));
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!table.columns()[c]) {
            continue;
        }
        const IndicatorStats s = table.stats(c);
        const std::string key(kIndicators[c].key);
        add(std::snprintf(line, sizeof line, "%-18s %7lld %12.6g %12.6g %12.6g %12.6g %12.6g %12.6g %12.6g %8lld\n",
                          key.c_str(), static_cast<long long>(s.count), s.mean, s.min, s.max, s.p5, s.p50, s.p95,
                          s.stddev, static_cast<long long>(s.leftOut)));
    }
    for (const Column flag : {kBlackout, kFreezing}) {
        if (!table.columns()[flag]) {
            continue;
        }
        const std::vector<FrameSpan> spans = table.spans(flag);
        text += std::string(kIndicators[flag].key) + " spans:";
        if (spans.empty()) {
            text += " none";
        }
        for (const FrameSpan& span : spans) {
            add(span.first == span.last
                    ? std::snprintf(line, sizeof line, " %lld", static_cast<long long>(span.first))
                    : std::snprintf(line, sizeof line, " %lld-%lld", static_cast<long long>(span.first),
                                    static_cast<long long>(span.last)));
        }
        text += '\n';
    }
    if (table.events() != nullptr) {
        text += eventsText(table.events()->tracker());
    }
    return text;
}

}  // namespace nrvq
