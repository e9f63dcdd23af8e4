#include "io/text_output.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "engine/registry.h"

namespace nrvq {

namespace {

// Double to 32-bit int by truncation; values out of range or not a number
// give INT32_MIN, as the processor's own conversion does.
int32_t truncateToInt(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

template <typename Piece>
std::string joined(std::string_view first, Piece piece, std::string_view last) {
    std::string text(first);
    for (const IndicatorInfo& info : kIndicators) {
        text += piece(info);
    }
    text += last;
    return text;
}

void appendField(std::string& out, const std::string_view field, const IndicatorInfo& info, double value) {
    // Formats are the table's own, with one conversion each.
    char buffer[512];
    const std::string format(field);
    int n = 0;
    switch (info.type) {
        case ValueType::Real:
            n = std::snprintf(buffer, sizeof buffer, format.c_str(), value);
            break;
        case ValueType::Flag:
            n = std::snprintf(buffer, sizeof buffer, format.c_str(), value != 0.0 ? 1 : 0);
            break;
        case ValueType::Truncated:
            n = std::snprintf(buffer, sizeof buffer, format.c_str(), truncateToInt(value));
            break;
    }
    out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1);
}

void appendRow(const FrameRecord& record, std::string& out, std::string_view IndicatorInfo::*field) {
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%05i", static_cast<int>(record.index));
    out.append(buffer, static_cast<size_t>(n));
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        appendField(out, kIndicators[c].*field, kIndicators[c], record.values[c]);
    }
    out += '\n';
}

void writeOrThrow(std::FILE* out, const std::string& text, const std::string& what) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
        const int error = errno;
        throw OutputError("Cannot write " + what + ": " + std::strerror(error), error);
    }
}

}  // namespace

std::string consoleHeader() {
    return joined(kFrameConsoleTitle, [](const IndicatorInfo& i) { return i.consoleTitle; }, "");
}

std::string logHeader() {
    return joined(kFrameLogTitle, [](const IndicatorInfo& i) { return i.logTitle; }, "\n");
}

std::string consoleRowFormat() {
    return joined(kFrameField, [](const IndicatorInfo& i) { return i.consoleField; }, "\n");
}

std::string logRowFormat() {
    return joined(kFrameField, [](const IndicatorInfo& i) { return i.logField; }, "\n");
}

void appendConsoleRow(const FrameRecord& record, std::string& out) {
    appendRow(record, out, &IndicatorInfo::consoleField);
}

void appendLogRow(const FrameRecord& record, std::string& out) { appendRow(record, out, &IndicatorInfo::logField); }

void printTimingReport(std::FILE* out, const Timings& timings, double processSeconds, double frames) {
    // With no frame examined the averages are 0, not a division by zero.
    const auto perFrame = [frames](double seconds) { return frames > 0 ? seconds / frames * 1000 : 0.0; };
    std::fprintf(out, "Calculation time: \t%f seconds overall \n \t\t\t%f milliseconds per frame", processSeconds,
                 perFrame(processSeconds));
    std::fprintf(out, "\n\nAverage calculation time per frame for each metric: \n");
    for (const Column c : reportOrder()) {
        const std::string format(kIndicators[c].reportField);
        std::fprintf(out, format.c_str(), perFrame(timings.seconds[c]));
    }
}

// ---- ConsoleRows ------------------------------------------------------------------

ConsoleRows::ConsoleRows(std::FILE* out) : out_(out), what_("to standard output") { row_.reserve(512); }

void ConsoleRows::frame(const FrameRecord& record) {
    row_.clear();
    appendConsoleRow(record, row_);
    writeOrThrow(out_, row_, what_);
}

// ---- TabLog -----------------------------------------------------------------------

TabLog::TabLog(std::FILE* file, std::string path)
    : file_(file), path_(std::move(path)), what_("the log " + path_) {
    row_.reserve(512);
}

TabLog::~TabLog() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void TabLog::write(const std::string& text) { writeOrThrow(file_, text, what_); }

void TabLog::begin(const SourceInfo&) { write(logHeader()); }

void TabLog::frame(const FrameRecord& record) {
    row_.clear();
    appendLogRow(record, row_);
    write(row_);
}

void TabLog::finish(const RunSummary&) {
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        const int error = errno;
        throw OutputError("Cannot write the log " + path_ + ": " + std::strerror(error), error);
    }
}

}  // namespace nrvq
