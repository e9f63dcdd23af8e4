// The tool's fixed text face: the console header and rows, the tab-separated
// results log, and the timing report, all generated from the indicator table.
#pragma once

#include <cstdio>
#include <string>

#include "engine/frame.h"
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

// Rows on a stream (standard output), written through frame by frame.
class ConsoleRows : public FrameSink {
public:
    explicit ConsoleRows(std::FILE* out);
    void frame(const FrameRecord& record) override;

private:
    std::FILE* out_;
    std::string what_;
    std::string row_;
};

// The results log: its header, then one row per frame, each flushed as it is
// written so that a run that stops early leaves whole rows behind.
class TabLog : public FrameSink {
public:
    // Takes ownership of an open stream.
    explicit TabLog(std::FILE* file, std::string path);
    ~TabLog() override;
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;

private:
    void write(const std::string& text);
    std::FILE* file_;
    std::string path_;
    std::string what_;
    std::string row_;
};

}  // namespace nrvq
