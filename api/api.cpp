// The public interface (include/nrvq/nrvq.h) over the engine: Analysis wraps
// Analyzer, analyzeFile wraps openInput and runAnalysis, and FrameResult is a
// view of the engine's own FrameRecord.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/analyzer.h"
#include "engine/events.h"
#include "engine/frame.h"
#include "engine/registry.h"
#include "engine/rules.h"
#include "io/input.h"
#include "io/results.h"
#include "kernels/dispatch.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "nrvq/nrvq.h"

#ifndef NRVQ_VERSION_TEXT
#define NRVQ_VERSION_TEXT "0.0.0"
#endif

namespace nrvq {

static_assert(indicatorCount == kIndicatorCount, "the public value arrays follow the indicator table");

namespace {

std::array<std::string_view, kIndicatorCount> makeKeys() {
    std::array<std::string_view, kIndicatorCount> keys{};
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        keys[c] = kIndicators[c].key;
    }
    return keys;
}

const std::array<std::string_view, kIndicatorCount>& keys() {
    static const auto table = makeKeys();
    return table;
}

// Refuses what no reader or analysis can take, before anything is allocated.
void checkRequest(const InputRequest& request) {
    if (const std::optional<std::string> problem = requestProblem(request)) {
        throw std::invalid_argument(*problem);
    }
}

// The rule and selection parsers name the command line's options in their
// messages ("Invalid --rule ..."); the library names its own fields.
std::invalid_argument inLibraryWords(const std::invalid_argument& error) {
    static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
        {"Invalid --rules ", "Invalid rules file "}, {"Invalid --rule ", "Invalid rule "},
        {"Invalid --fail-on ", "Invalid fail-on kinds "}, {"Invalid --only ", "Invalid only "},
        {"Invalid --skip ", "Invalid skip "}};
    std::string text = error.what();
    for (const auto& [option, field] : kNames) {
        for (size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + field.size())) {
            text.replace(at, option.size(), field);
        }
    }
    return std::invalid_argument(text);
}

// Text that is entirely a decimal number: digits with at most one point
// (no sign, exponent, hexadecimal or words such as "inf").
std::optional<double> parseDecimal(std::string_view text) {
    size_t digits = 0;
    size_t points = 0;
    for (const char c : text) {
        digits += c >= '0' && c <= '9';
        points += c == '.';
    }
    if (digits == 0 || points > 1 || digits + points != text.size()) {
        return std::nullopt;
    }
    const double value = std::strtod(std::string(text).c_str(), nullptr);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

std::optional<double> parseFrameRate(std::string_view text) {
    const size_t slash = text.find('/');
    std::optional<double> rate;
    if (slash == std::string_view::npos) {
        rate = parseDecimal(text);
    } else {
        const std::optional<double> numerator = parseDecimal(text.substr(0, slash));
        const std::optional<double> denominator = parseDecimal(text.substr(slash + 1));
        if (numerator && denominator && *denominator > 0.0) {
            rate = *numerator / *denominator;
        }
    }
    if (!rate || !(*rate >= kMinFrameRate && *rate <= kMaxFrameRate)) {
        return std::nullopt;
    }
    return rate;
}

std::vector<std::string_view> simdLevels() {
    std::vector<std::string_view> names;
    for (const kernels::SimdLevel level : kernels::availableSimdLevels()) {
        names.push_back(kernels::simdLevelName(level));
    }
    names.push_back(kernels::simdLevelName(kernels::SimdLevel::best));
    return names;
}

namespace {

// Makes the fast kernels use the named level for the process.
void selectSimdLevel(const std::string& name) {
    const std::optional<kernels::SimdLevel> level = kernels::parseSimdLevel(name);
    if (!level) {
        throw std::invalid_argument("unknown instruction set \"" + name +
                                    "\": expected " + kernels::simdLevelNames(" or "));
    }
    if (!kernels::setSimdLevel(*level)) {
        throw std::invalid_argument("this processor does not run the instruction set \"" + name + "\"");
    }
}

}  // namespace

std::span<const std::string_view, indicatorCount> indicatorKeys() { return keys(); }

std::span<const IndicatorDescription, indicatorCount> indicatorDescriptions() {
    static const auto table = [] {
        std::array<IndicatorDescription, kIndicatorCount> rows{};
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            const IndicatorInfo& info = kIndicators[c];
            rows[c] = {info.key,
                       info.kind == IndicatorKind::SingleFrame ? "single_frame"
                       : info.kind == IndicatorKind::FramePair ? "frame_pair"
                                                               : "ordered_state",
                       info.type == ValueType::Flag ? "flag" : info.type == ValueType::Truncated ? "truncated" : "real",
                       info.logField, info.measuredOnFirstFrame};
        }
        return rows;
    }();
    return table;
}

size_t indicatorIndex(std::string_view key) {
    const std::optional<Column> column = columnOf(key);
    if (!column) {
        throw std::out_of_range("no indicator has the key \"" + std::string(key) + "\"");
    }
    return *column;
}

std::string_view version() { return NRVQ_VERSION_TEXT; }

std::uint32_t selectIndicators(std::string_view only, std::string_view skip) {
    try {
        return static_cast<std::uint32_t>(selectedColumns(std::string(only), std::string(skip)).to_ulong());
    } catch (const std::invalid_argument& e) {
        throw inLibraryWords(e);
    }
}

double blockinessMos(double blockiness) { return std::isfinite(blockiness) ? blockToMOS(blockiness) : blockiness; }

double blurMos(double blur) { return std::isfinite(blur) ? blurToMOS(blur) : blur; }

// ---- FrameResult ----------------------------------------------------------------

int64_t FrameResult::index() const { return record_->index; }

bool FrameResult::hasPrevious() const { return record_->hasPrevious; }

double FrameResult::seconds() const { return record_->seconds; }

std::span<const double, indicatorCount> FrameResult::values() const { return record_->values; }

bool FrameResult::measured(size_t column) const {
    if (column >= kIndicatorCount) {
        throw std::out_of_range("indicator column " + std::to_string(column) + " is past the last one");
    }
    return isMeasured(*record_, static_cast<Column>(column));
}

// ---- Analysis -------------------------------------------------------------------

struct Analysis::Impl {
    Impl(int32_t width, int32_t height, double fps, const Options& options)
        : analyzer(width, height, fps, options), fps(fps) {}
    Analyzer analyzer;
    double fps;
    int64_t pushed = 0;
};

Analysis::Analysis(int32_t width, int32_t height, double fps, const Options& options) {
    InputRequest request;
    request.width = width;
    request.height = height;
    request.fps = fps;
    checkRequest(request);
    impl_ = std::make_unique<Impl>(width, height, fps, options);
}

Analysis::~Analysis() = default;
Analysis::Analysis(Analysis&&) noexcept = default;
Analysis& Analysis::operator=(Analysis&&) noexcept = default;

FrameResult Analysis::push(const uint8_t* luma, ptrdiff_t stride) {
    if (luma == nullptr) {
        throw std::invalid_argument("the luma plane is null");
    }
    const FrameRecord& record = impl_->analyzer.push(luma, stride);
    ++impl_->pushed;
    return FrameResult(&record);
}

int32_t Analysis::width() const { return impl_->analyzer.width(); }
int32_t Analysis::height() const { return impl_->analyzer.height(); }
double Analysis::fps() const { return impl_->fps; }
int64_t Analysis::frames() const { return impl_->pushed; }

// ---- FileResults ----------------------------------------------------------------

struct FileResults::Impl {
    std::vector<FrameRecord> records;
    ResultTable table;  // the same values, for the pooled statistics
    SourceInfo info;
    std::string notes;
    Timings timings;
    double processSeconds = 0;
    std::vector<EventResult> events;
    bool fatal = false;
};

FileResults::FileResults() : impl_(std::make_unique<Impl>()) {}
FileResults::~FileResults() = default;
FileResults::FileResults(FileResults&&) noexcept = default;
FileResults& FileResults::operator=(FileResults&&) noexcept = default;

size_t FileResults::size() const { return impl_ ? impl_->records.size() : 0; }

FrameResult FileResults::operator[](size_t i) const {
    if (i >= size()) {
        throw std::out_of_range("frame " + std::to_string(i) + " of " + std::to_string(size()));
    }
    return FrameResult(&impl_->records[i]);
}

int32_t FileResults::width() const { return impl_->info.width; }
int32_t FileResults::height() const { return impl_->info.height; }
double FileResults::fps() const { return impl_->info.fps; }
int64_t FileResults::startFrame() const { return impl_->info.startFrame; }
const std::string& FileResults::notes() const { return impl_->notes; }

IndicatorSummary FileResults::summary(size_t column) const {
    if (column >= kIndicatorCount) {
        throw std::out_of_range("indicator column " + std::to_string(column) + " is past the last one");
    }
    const IndicatorStats s = impl_->table.stats(column);
    return {s.count, s.leftOut, s.mean, s.min, s.max, s.p5, s.p50, s.p95, s.stddev};
}

std::vector<FlagSpan> FileResults::spans(std::string_view key) const {
    const auto column = static_cast<Column>(indicatorIndex(key));
    if (kIndicators[column].type != ValueType::Flag) {
        throw std::invalid_argument("\"" + std::string(key) + "\" is not a flag: only flags have spans");
    }
    std::vector<FlagSpan> out;
    for (const FrameSpan& span : impl_->table.spans(column)) {
        out.push_back({span.first, span.last});
    }
    return out;
}

std::span<const double, indicatorCount> FileResults::indicatorSeconds() const { return impl_->timings.seconds; }
double FileResults::processSeconds() const { return impl_->processSeconds; }
const std::vector<EventResult>& FileResults::events() const { return impl_->events; }
bool FileResults::fatal() const { return impl_->fatal; }

FileResults analyzeFile(const std::string& path, const FileOptions& options) {
    // The request and its checks are the command line's, so that the reader
    // is never asked for what it cannot deliver.
    const InputRequest request = makeInputRequest(path, options, kLibraryNames);
    checkRequest(request);
    const ColumnSet columns(options.indicators & kAllColumns);
    if (columns.none()) {
        throw std::invalid_argument("no indicator is selected");
    }
    std::vector<EventRule> rules;
    try {
        rules = runRules(options.rules, options.rulesFile, options.failOn, columns);
    } catch (const std::invalid_argument& e) {
        throw inLibraryWords(e);
    }
    selectSimdLevel(options.simd);

    std::unique_ptr<FrameSource> source;
    try {
        source = openInput(request);
    } catch (const InputError& e) {
        throw InputFailure(e.what());
    }
    const SourceInfo& info = source->info();
    if (info.width <= 0 || info.height <= 0) {
        throw InputFailure("The frame size of " + path + " is not known: give width and height");
    }

    FileResults results;
    results.impl_->info = info;
    // The count asked for may far exceed what the input holds: reserve for
    // at most a few thousand frames and let the vector grow past that.
    constexpr int64_t kReserveLimit = 1 << 14;
    if (info.frameCount > 0) {
        results.impl_->records.reserve(static_cast<size_t>(std::min(info.frameCount, kReserveLimit)));
    }
    AnalyzerOptions analysis;
    analysis.threads = options.threads;
    analysis.reference = options.reference;
    analysis.indicators = options.indicators;
    std::vector<FrameRecord>& records = results.impl_->records;
    ResultTable& table = results.impl_->table;
    table.begin(info);
    EventTracker tracker(std::move(rules), info.fps);
    const RunOutcome outcome = runAnalysis(*source, analysis, [&](const FrameRecord& record) {
        records.push_back(record);
        table.frame(record);
        tracker.frame(record);
        return true;
    });
    if (outcome.end.status == ReadStatus::Error) {
        std::string message = "Reading frame " + std::to_string(info.startFrame + outcome.examined) + " of " +
                              path + " failed";
        if (outcome.end.error != 0) {
            message += ": " + std::string(std::strerror(outcome.end.error));
        } else if (!outcome.end.message.empty()) {
            message += ": " + outcome.end.message;
        }
        throw InputFailure(message);
    }
    results.impl_->notes = endOfInputNotes(*source);
    results.impl_->timings = outcome.timings;
    results.impl_->processSeconds = outcome.processSeconds;
    for (const Event& e : tracker.events()) {
        results.impl_->events.push_back({std::string(kIndicators[e.column].key), std::string(severityName(e.severity)),
                                         e.first, e.last, e.start, e.end, e.peak, tracker.rules()[e.rule].text()});
    }
    results.impl_->fatal = tracker.fatalOpened();
    return results;
}

}  // namespace nrvq
