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

// ---- ConsoleOutput ----------------------------------------------------------------

ConsoleOutput::ConsoleOutput(std::FILE* out, std::string inputPath, std::optional<int32_t> framesAsked)
    : out_(out), inputPath_(std::move(inputPath)), framesAsked_(framesAsked) {
    row_.reserve(512);
}

void ConsoleOutput::begin(const SourceInfo& info) {
    frameCount_ = info.frameCount;
    // A failed write shows at the first row (a closed pipe stops the run
    // there) or in the check of standard output at the end.
    std::fprintf(out_, "Video file %s opened successfully!\n\n", inputPath_.c_str());
    // The count as given (0 or less examines none), or as the input says.
    const std::string count = framesAsked_            ? std::to_string(*framesAsked_)
                              : info.frameCount >= 0 ? std::to_string(info.frameCount)
                                                     : "all";
    std::fprintf(out_, "Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %s, Start Frame = %d\n\n",
                 info.width, info.height, info.fps, count.c_str(), static_cast<int>(info.startFrame));
    std::fprintf(out_, "%s\n", consoleHeader().c_str());
    std::fflush(out_);
}

void ConsoleOutput::frame(const FrameRecord& record) {
    row_.clear();
    appendConsoleRow(record, row_);
    if (std::fwrite(row_.data(), 1, row_.size(), out_) != row_.size() || std::fflush(out_) != 0) {
        const int error = errno;
        throw OutputError(std::string("Cannot write to standard output: ") + std::strerror(error), error);
    }
}

void ConsoleOutput::finish(const RunSummary& summary) {
    if (!summary.complete) {
        return;
    }
    // A run cut short by the end of the input or a signal reports per
    // examined frame.
    const int64_t divisor = frameCount_ < 0 || frameCount_ > summary.examined || summary.stopped ? summary.examined
                                                                                                  : frameCount_;
    printTimingReport(out_, summary.timings, summary.processSeconds, static_cast<double>(divisor));
}

void ConsoleOutput::close() { std::fputs("\nFile stream closed\n\n", out_); }

// ---- TabLog -----------------------------------------------------------------------

TabLog::TabLog(PreparedOutput& target) : file_(target, "the log") { row_.reserve(512); }

void TabLog::begin(const SourceInfo&) {
    file_.write(logHeader());
    file_.flush();
}

void TabLog::frame(const FrameRecord& record) {
    row_.clear();
    appendLogRow(record, row_);
    file_.write(row_);
    file_.flush();
}

void TabLog::finish(const RunSummary&) { file_.close(); }

}  // namespace nrvq
