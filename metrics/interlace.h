// Interlace: share of 4x4 blocks whose columns all zig-zag line to line.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

inline constexpr int32_t INTERLACE_BLOCKSIZE = 4;

double interlace(const Image* frame);
// Ascending qsort comparator of two doubles.
int compare(const void* a, const void* b);
