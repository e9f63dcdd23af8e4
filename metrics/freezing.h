// Freezing: runs of exactly repeated frames lasting a tenth of a second.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// The run of repeated frames of one video; a program that measures several
// videos at once keeps one per video.
struct FreezingState {
    // Consecutive frames, up to and including the latest, that repeated their
    // predecessor exactly and were no blackout.
    int32_t freezingTemp = 0;

    // Extends the run on an exact repeat (activity 0.0) that is no blackout,
    // ends it otherwise, and tells whether the run lasts at least a tenth of
    // a second at the given frame rate.
    bool update(bool isBlackout, double temporalActivity, double fps);
};
