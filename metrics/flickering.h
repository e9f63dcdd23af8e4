// Flickering: how often 8x8 blocks switch between still and changing.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Frames in one counting period.
inline constexpr int32_t framePeriod = 8;

// The counting period of one video; a program that measures several videos
// at once keeps one per video (with its own transitionCounts and
// blockStates, the caller-owned per-block state, (w / 8) x (h / 8)).
struct FlickeringState {
    // Calls made in the current period.
    int32_t frameCount = 0;

    // Classifies the blocks of current against previous and counts their
    // switches; returns -1.0 inside a period and, on its last call, the mean
    // switching rate of the 3 % of blocks that switched most, after which
    // the period starts again with every block still.
    double update(const Image* current, const Image* previous, Image* transitionCounts, Image* blockStates);

    // The steps of update() after the blocks are classified, for the fast
    // version: counts a call and tells whether it ends the period; how many
    // of n blocks the value averages (the most switching ones); the value
    // from the sum of their switch counts, after which the period starts
    // again with every block still.
    bool endsPeriod();
    static int32_t averagedBlocks(uint32_t n);
    double finishPeriod(uint64_t sum, int32_t k, Image* transitionCounts, Image* blockStates);
};

// Descending qsort comparator of two unsigned bytes.
int compareElements(const void* x, const void* y);
