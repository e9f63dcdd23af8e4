#include "io/data_output.h"

#include <stdio.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <utility>

#include "io/events_output.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"

namespace nrvq {

using ordered_json = nlohmann::ordered_json;

void appendNumber(std::string& out, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

const std::array<std::string_view, 2> kOpinionKeys = {"blockiness_mos", "blur_mos"};

std::array<double, 2> opinionScores(double blockiness, double blur) {
    return {std::isfinite(blockiness) ? blockToMOS(blockiness) : blockiness,
            std::isfinite(blur) ? blurToMOS(blur) : blur};
}

// ---- JSON -------------------------------------------------------------------------

namespace {

ordered_json numberOrNull(double value) { return std::isfinite(value) ? ordered_json(value) : ordered_json(); }

ordered_json eventsJson(const EventTracker& tracker) {
    ordered_json list = ordered_json::array();
    for (const Event& e : tracker.events()) {
        list.push_back({{"indicator", kIndicators[e.column].key},
                        {"severity", severityName(e.severity)},
                        {"first", e.first},
                        {"last", e.last},
                        {"start", e.start},
                        {"end", e.end},
                        {"peak", numberOrNull(e.peak)},
                        {"rule", tracker.rules()[e.rule].text()}});
    }
    return list;
}

}  // namespace

void appendJsonField(std::string& text, std::string_view key, double value) {
    text += ", \"";
    text += key;
    text += "\": ";
    if (std::isfinite(value)) {
        appendNumber(text, value);
    } else {
        text += "null";
    }
}

JsonOutput::JsonOutput(PreparedOutput& target, const ResultTable& table, std::string version)
    : WholeFileOutput(target, "the JSON output"), table_(table), version_(std::move(version)) {}

void JsonOutput::write(OutputFile& file) {
    const SourceInfo& info = table_.info();
    ordered_json input = {{"path", info.path},          {"kind", info.kind},
                          {"width", info.width},        {"height", info.height},
                          {"fps", info.fps},            {"layout", info.layout},
                          {"first_frame", table_.firstIndex()}, {"frames_examined", table_.frames()}};
    ordered_json summary = ordered_json::object();
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (!table_.columns()[c]) {
            continue;
        }
        const IndicatorStats s = table_.stats(c);
        summary[std::string(kIndicators[c].key)] = {
            {"count", s.count},  {"mean", numberOrNull(s.mean)}, {"min", numberOrNull(s.min)},
            {"max", numberOrNull(s.max)}, {"p5", numberOrNull(s.p5)},     {"p50", numberOrNull(s.p50)},
            {"p95", numberOrNull(s.p95)}, {"stddev", numberOrNull(s.stddev)}, {"left_out", s.leftOut}};
    }
    const ordered_json events =
        table_.events() != nullptr ? eventsJson(table_.events()->tracker()) : ordered_json::array();

    // The frames are written value by value rather than built as a tree: a
    // long run has many of them.
    std::string text = "{\n\"version\": " + ordered_json(version_).dump() + ",\n\"input\": " + input.dump() +
                       ",\n\"summary\": " + summary.dump() + ",\n\"events\": " + events.dump() +
                       ",\n\"frames\": [";
    for (int64_t row = 0; row < table_.frames(); ++row) {
        text += row == 0 ? "\n{\"frame\": " : ",\n{\"frame\": ";
        text += std::to_string(table_.indexOf(row));
        appendJsonField(text, "time", table_.time(row));
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            if (table_.columns()[c]) {
                appendJsonField(text, kIndicators[c].key, table_.value(row, c));
            }
        }
        const auto scores = opinionScores(table_.value(row, kBlockiness), table_.value(row, kBlur));
        for (size_t k = 0; k < scores.size(); ++k) {
            if (table_.columns()[kOpinionColumns[k]]) {
                appendJsonField(text, kOpinionKeys[k], scores[k]);
            }
        }
        text += '}';
        if (text.size() > (1 << 16)) {
            file.write(text);
            text.clear();
        }
    }
    text += "\n]\n}\n";
    file.write(text);
}

// ---- CSV --------------------------------------------------------------------------

CsvOutput::CsvOutput(PreparedOutput& target, ColumnSet columns)
    : file_(target, "the CSV output"), columns_(columns) {
    row_.reserve(512);
}

void CsvOutput::begin(const SourceInfo&) {
    std::string header = "frame,time";
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (columns_[c]) {
            header += ',';
            header += kIndicators[c].key;
        }
    }
    for (size_t k = 0; k < kOpinionKeys.size(); ++k) {
        if (columns_[kOpinionColumns[k]]) {
            header += ',';
            header += kOpinionKeys[k];
        }
    }
    header += "\r\n";
    file_.write(header);
    file_.flush();
}

void CsvOutput::frame(const FrameRecord& record) {
    row_.clear();
    row_ += std::to_string(record.index);
    const auto add = [this](double v) {
        row_ += ',';
        if (std::isfinite(v)) {
            char buffer[32];
            const int n = std::snprintf(buffer, sizeof buffer, "%.17g", v);
            row_.append(buffer, static_cast<size_t>(n));
        }
    };
    add(record.seconds);
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        if (columns_[c]) {
            add(isMeasured(record, static_cast<Column>(c)) ? record.values[c] : std::nan(""));
        }
    }
    const auto scores = opinionScores(record.values[kBlockiness], record.values[kBlur]);
    for (size_t k = 0; k < scores.size(); ++k) {
        if (columns_[kOpinionColumns[k]]) {
            add(scores[k]);
        }
    }
    row_ += "\r\n";
    file_.write(row_);
    file_.flush();
}

void CsvOutput::finish(const RunSummary&) { file_.close(); }

}  // namespace nrvq
