// Fast spatial activity. Every Sobel term is an integer below 2^21, so over
// a frame of fewer than 2^32 samples the literal double accumulator holds an
// exact integer below 2^53 at every step: the same total comes from 32-bit
// lane sums over short row chunks gathered in 64 bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/spatialActivity.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/spatialActivity.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// Summed gx^2 + gy^2 over the interior of a w x h frame (w, h >= 3). A
// chunk of 1024 terms of at most 2 080 800 stays below 2^32.
uint64_t SobelEnergy(const uint8_t* p, size_t w, size_t h) {
    constexpr size_t kChunk = 1024;
    uint64_t total = 0;
    for (size_t y = 1; y + 1 < h; ++y) {
        const uint8_t* above = p + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        for (size_t start = 1; start + 1 < w; start += kChunk) {
            const size_t end = w - 1 - start < kChunk ? w - 1 : start + kChunk;
            uint32_t sum = 0;
            for (size_t x = start; x < end; ++x) {
                const int32_t gx = (above[x + 1] + 2 * row[x + 1] + below[x + 1]) -
                                   (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
                const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) -
                                   (above[x - 1] + 2 * above[x] + above[x + 1]);
                sum += static_cast<uint32_t>(gx * gx + gy * gy);
            }
            total += sum;
        }
    }
    return total;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SobelEnergy);

double spatialActivity(const Image* frame, Scratch&) {
    if (!indexFits32(frame)) {
        return ::spatialActivity(frame);
    }
    const uint64_t w = frame->w;
    const uint64_t h = frame->h;
    uint64_t energy = 0;
    if (w >= 3 && h >= 3) {
        energy = HWY_DYNAMIC_DISPATCH(SobelEnergy)(frame->data, w, h);
    }
    return std::sqrt(static_cast<double>(energy)) / std::sqrt(static_cast<double>(w * h));
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
