#include "metrics/flickering.h"

#include <cstdlib>

namespace {

// Mean absolute difference from which a block counts as changing. With 8x8
// blocks a mean is a multiple of 1/64, so any differing sample reaches it.
constexpr double THRESHOLD_CHANGING = 0.0111;
// Share of the blocks, the most switching ones, that the value averages.
constexpr double TOP_SHARE = 0.03;

}  // namespace

double FlickeringState::update(const Image* current, const Image* previous, Image* transitionCounts,
                               Image* blockStates) {
    const int32_t bs = BLOCKSIZE;
    {
        OwnedImage<ImageDouble> blockDiffs(callocImageDouble(current->w / static_cast<uint64_t>(bs),
                                                             current->h / static_cast<uint64_t>(bs)));
        calculateFlickering(current, previous, transitionCounts, blockStates, blockDiffs.get(), bs,
                            THRESHOLD_CHANGING);
    }

    if (!endsPeriod()) {
        return -1.0;
    }

    const uint32_t n = static_cast<uint32_t>(transitionCounts->w * transitionCounts->h);
    const int32_t k = averagedBlocks(n);
    if (n > 1) {
        std::qsort(transitionCounts->data, n, 1, compareElements);
    }
    uint64_t sum = 0;
    for (int32_t i = 0; i < k; ++i) {
        sum += transitionCounts->data[i];
    }
    return finishPeriod(sum, k, transitionCounts, blockStates);
}

bool FlickeringState::endsPeriod() {
    frameCount = static_cast<int32_t>(static_cast<uint32_t>(frameCount) + 1u);
    return frameCount == framePeriod;
}

int32_t FlickeringState::averagedBlocks(uint32_t n) { return static_cast<int32_t>(static_cast<double>(n) * TOP_SHARE); }

double FlickeringState::finishPeriod(uint64_t sum, int32_t k, Image* transitionCounts, Image* blockStates) {
    const uint32_t n = static_cast<uint32_t>(transitionCounts->w * transitionCounts->h);
    // Fewer than 34 blocks leave k = 0 and the value 0 / 0.
    const int32_t periodSwitches = static_cast<int32_t>(static_cast<uint32_t>(framePeriod) * static_cast<uint32_t>(k));
    const double value = static_cast<double>(sum) / static_cast<double>(periodSwitches);

    // The next period starts with no switches and every block still.
    frameCount = 0;
    for (uint32_t i = 0; i < n; ++i) {
        transitionCounts->data[i] = 0;
        blockStates->data[i] = 0;
    }
    return value;
}

int compareElements(const void* x, const void* y) {
    return static_cast<int>(*static_cast<const uint8_t*>(y)) - static_cast<int>(*static_cast<const uint8_t*>(x));
}
