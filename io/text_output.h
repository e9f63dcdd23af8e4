// The tool's fixed text face, generated from the indicator table: the
// console (start-up lines, header, rows, timing report, closing line) and the
// tab-separated results log.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "engine/frame.h"
#include "io/output_plan.h"
#include "io/sink.h"

namespace nrvq {

// The console header (without its newline) and the log header (with it).
std::string consoleHeader();
std::string logHeader();
// printf formats of a whole console or log row.
std::string consoleRowFormat();
std::string logRowFormat();

// Appends one row, newline included, to out.
void appendConsoleRow(const FrameRecord& record, std::string& out);
void appendLogRow(const FrameRecord& record, std::string& out);

// The per-indicator timing report: seconds overall, then the average
// milliseconds per frame of each indicator over frames.
void printTimingReport(std::FILE* out, const Timings& timings, double processSeconds, double frames);

// The console on standard output: the start-up lines and the header before
// the first frame, a row per frame written through, the timing report at the
// end of a complete run, and the closing line.
class ConsoleOutput : public FrameSink {
public:
    // inputPath and framesAsked as the command line gave them.
    ConsoleOutput(std::FILE* out, std::string inputPath, std::optional<int32_t> framesAsked);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;
    // After every output is in place.
    void close();

private:
    std::FILE* out_;
    std::string inputPath_;
    std::optional<int32_t> framesAsked_;
    int64_t frameCount_ = -1;  // as the input says; -1: unknown
    std::string row_;
};

// The results log: its header, then one row per frame, each flushed as it is
// written so that a run that stops early leaves whole rows behind.
class TabLog : public FrameSink {
public:
    explicit TabLog(PreparedOutput& target);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;

private:
    OutputFile file_;
    std::string row_;
};

}  // namespace nrvq
