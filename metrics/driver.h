// The driver: command line, frame loop, rows, results log and timing report.
#pragma once

#include <cstdint>
#include <cstdio>

// Frame rate assumed when the command line gives none.
inline constexpr int DEFAULT_FPS = 25;

// One frame's indicator results, as its rows print them.
struct FrameResults {
    double blockiness = 0.0;
    double spatialActivity = 0.0;
    double letterbox = 0.0;
    double pillarbox = 0.0;
    double blockLoss = 0.0;
    double blur = 0.0;
    double exposure = 0.0;
    double interlace = 0.0;
    double noise = 0.0;
    double slice = 0.0;
    bool blackout = false;
    double contrast = 0.0;
    double temporalActivity = 0.0;
    bool freezing = false;
    double flickering = 0.0;
};

// The console row and the results-log row of one frame (frame index counted
// from the start of the file).
void writeConsoleRow(std::FILE* out, int32_t frame, const FrameResults& results);
void writeLogRow(std::FILE* out, int32_t frame, const FrameResults& results);

// Runs the whole tool on a command line (argv[0] is the program's name).
// Returns 0 after a complete run and -1 after an early stop.
int runNrvq(int argc, char** argv);
