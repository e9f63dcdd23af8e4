// Slice: bands that repeat themselves horizontally far more than vertically.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Band height and the vertical and horizontal shifts.
inline constexpr int32_t SLICE_BLOCKSIZE = 16;

// 1 divided by the smallest band ratio of vertical to horizontal matches;
// -1.0 for frames too small to measure.
double slice(const Image* frame);
// Where: the band (rows 16 * band ... 16 * band + 31, compared with the 16
// below) with the smallest ratio, the one slice is computed from; -1 for
// frames too small to measure.
int32_t sliceBand(const Image* frame);
// Ascending qsort comparator of two doubles.
int compare_Double_asc(const void* x, const void* y);
