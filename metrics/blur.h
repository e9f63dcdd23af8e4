// Blur: mean width of the strong horizontal edges of one frame.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/definitions.h"

// Side of the blocks whose deviation sets the edge-walk threshold.
inline constexpr int32_t BLUR_BLOCKSIZE = 16;

// Mean edge width in pixels; 0.0 when no edge pixel is found.
double blur(const Image* frame);

// Where: every edge pixel blur() measures, as the span on its row whose
// width (right - left) enters the mean.
struct BlurEdge {
    int64_t y, left, right;
};
std::vector<BlurEdge> blurEdges(const Image* frame);
// Maps a blur value to a score in 0 ... 5.
double blurToMOS(double value);
