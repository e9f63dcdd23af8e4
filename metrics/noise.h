// Noise: standard deviation of the noise in the luma plane.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Bins of the block-deviation histogram.
inline constexpr int32_t HISTOGRAM_ENTRIES = 128;
// Blocks that the selection image holds side by side.
inline constexpr int32_t MAX_CONTAINER_WIDTH = 1000;
// Side of the Gaussian smoothing kernel.
inline constexpr int32_t GAUSSIAN_MASK_SIZE = 3;

// Mean residual deviation of the blocks at the most common deviation level;
// 0.0 for a noiseless frame or one without blocks, -1.0 if filtering fails.
double noise(const Image* frame);

// The deviation level whose blocks the noise is measured on: target is 0
// when there is none, floorTarget the estimate's integer part.
struct NoiseLevel {
    int32_t target;
    int32_t floorTarget;
};

// The histogram of the blocks' rounded deviations and its mode: among bins
// tied at the top count the one that reached it first.
struct NoiseHistogram {
    uint16_t counters[HISTOGRAM_ENTRIES] = {};
    int32_t mode = 0;
    // Counts a block in bin (below HISTOGRAM_ENTRIES).
    void add(int32_t bin) {
        counters[bin] = static_cast<uint16_t>(counters[bin] + 1);
        if (counters[bin] > counters[mode]) {
            mode = bin;
        }
    }
    // The level around the mode.
    NoiseLevel level() const;
};
