#undef NDEBUG  // the size precondition of minmax stays active in every build type
#include "metrics/blackout.h"

#include <cassert>

bool blackout(const Image* frame) {
    const int32_t bs = BLOCKSIZE;
    const uint32_t bw = static_cast<uint32_t>(frame->w) / static_cast<uint32_t>(bs);
    const uint32_t bh = static_cast<uint32_t>(frame->h) / static_cast<uint32_t>(bs);
    // Without a whole block there are no means to compare: not a blackout.
    if (bw == 0 || bh == 0) {
        return false;
    }
    OwnedImage<Image32> sums(callocImage32(bw, bh));
    blockSums(frame, sums.get(), static_cast<uint64_t>(bs), static_cast<uint64_t>(bs));
    int32_t smallest = 0;
    int32_t largest = 0;
    minmax(sums->data, sums->w * sums->h, &smallest, &largest);
    const int32_t difference =
        static_cast<int32_t>(static_cast<uint32_t>(largest) - static_cast<uint32_t>(smallest));
    const double spread = static_cast<double>(difference) / static_cast<double>(bs * bs);
    return THRESHOLD_BLACKOUT > spread;
}

void minmax(const int32_t* values, uint64_t size, int32_t* min, int32_t* max) {
    assert(size > 0);
    int32_t lowest = values[0];
    int32_t highest = values[0];
    for (uint64_t i = 1; i < size; ++i) {
        const int32_t v = values[i];
        if (v < lowest) {
            lowest = v;
        } else if (v >= highest) {
            highest = v;
        }
    }
    *min = lowest;
    *max = highest;
}
