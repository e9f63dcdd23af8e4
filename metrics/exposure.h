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
    // Takes a block's sum in where it belongs at either end.
    void add(double sum) {
        for (int32_t q = 0; q < nBlSum; ++q) {
            if (darkest[q] >= sum) {
                for (int32_t k = nBlSum - 1; k > q; --k) {
                    darkest[k] = darkest[k - 1];
                }
                darkest[q] = sum;
                break;
            }
        }
        for (int32_t q = 0; q < nBlSum; ++q) {
            if (sum >= brightest[q]) {
                for (int32_t k = nBlSum - 1; k > q; --k) {
                    brightest[k] = brightest[k - 1];
                }
                brightest[q] = sum;
                break;
            }
        }
    }
    // The last step: the mean luma of the extreme blocks.
    double finish() const;
};
