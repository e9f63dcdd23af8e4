// Blur: mean width of the strong horizontal edges of one frame.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Side of the blocks whose deviation sets the edge-walk threshold.
inline constexpr int32_t BLUR_BLOCKSIZE = 16;

// Mean edge width in pixels; 0.0 when no edge pixel is found.
double blur(const Image* frame);
// Maps a blur value to a score in 0 ... 5.
double blurToMOS(double value);
