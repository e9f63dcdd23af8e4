#include "metrics/freezing.h"

namespace {

// Shortest run, in seconds of video, that counts as a freeze.
constexpr double FREEZE_SECONDS = 0.1;

}  // namespace

bool FreezingState::update(bool isBlackout, double temporalActivity, double fps) {
    // Only an exact repeat extends the run: any difference, a not-a-number
    // activity or a black frame ends it.
    if (temporalActivity == 0.0 && !isBlackout) {
        freezingTemp = static_cast<int32_t>(static_cast<uint32_t>(freezingTemp) + 1u);
    } else {
        freezingTemp = 0;
    }
    return static_cast<double>(freezingTemp) >= fps * FREEZE_SECONDS;
}
