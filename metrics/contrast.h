// Contrast: RMS contrast, the sample standard deviation of the luma plane.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

double contrastRMS(const Image* frame);
// The last step: the contrast of n samples from their wrapping 32-bit sum and
// their sum of squares.
double contrastFromSums(int32_t n, int32_t sum, int64_t squareSum);
