// A self-updating progress line on a terminal: frames done, of how many when
// the input says, frames per second and the time left. It is redrawn at most
// ten times a second and wiped when the run ends, so nothing of it stays on
// the screen; the caller decides whether the stream is a terminal.
#pragma once

#include <chrono>
#include <cstdio>

#include "io/sink.h"

namespace nrvq {

class ProgressLine {
public:
    explicit ProgressLine(std::FILE* terminal) : out_(terminal) {}
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void start(int64_t total);
    // One more frame done; redraws when the last drawing is old enough.
    void advance();
    // Wipes the line if it is shown.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    std::FILE* out_;
    int64_t total_ = -1;
    int64_t done_ = 0;
    Clock::time_point started_{};
    Clock::time_point drawn_{};
    bool shown_ = false;
};

// Draws the line after every frame's other outputs.
class ProgressSink : public FrameSink {
public:
    explicit ProgressSink(ProgressLine& line) : line_(line) {}
    void begin(const SourceInfo& info) override { line_.start(info.frameCount); }
    void frame(const FrameRecord&) override { line_.advance(); }
    void finish(const RunSummary&) override { line_.clear(); }

private:
    ProgressLine& line_;
};

// Wipes the line before the console rows are written to the same terminal.
class ProgressEraser : public FrameSink {
public:
    explicit ProgressEraser(ProgressLine& line) : line_(line) {}
    void frame(const FrameRecord&) override { line_.clear(); }

private:
    ProgressLine& line_;
};

}  // namespace nrvq
