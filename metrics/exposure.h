// Exposure: brightness of the darkest and brightest 8x8 blocks.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Number of extreme blocks kept at each end of the luma range.
inline constexpr int32_t nBlSum = 4;

// Mean luma of the four darkest and the four brightest visited blocks.
double exposure(const Image* frame);

// The extreme block sums: the darkest in ascending order, the brightest in
// descending order. Entries that no block replaces keep their start values
// and still count in the mean.
struct ExposureExtremes {
    double darkest[nBlSum];
    double brightest[nBlSum];
    ExposureExtremes();
    // The last step: the mean luma of the extreme blocks.
    double finish() const;
};
