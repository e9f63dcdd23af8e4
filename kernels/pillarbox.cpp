// Fast pillarbox: the count is the first column position at which any
// examined row differs from its right-hand neighbour, found row by row with
// the search limit shrinking to the smallest position seen so far.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/pillarbox.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/simd-inl.h"
#include "metrics/pillarbox.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// The leading positions j < w / 2 at which column j equals column j + 1 on
// the upper h / 2 and the lower h / 2 rows; h >= 2.
uint32_t LeadingBarColumns(const uint8_t* p, uint32_t w, uint32_t h) {
    const uint32_t h2 = h >> 1;
    size_t bound = w >> 1;
    for (uint32_t k = 0; k < h2 && bound > 0; ++k) {
        bound = FirstAdjacentMismatchU8(p + k * w, bound);
        bound = FirstAdjacentMismatchU8(p + (h - 1 - k) * w, bound);
    }
    return static_cast<uint32_t>(bound);
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(LeadingBarColumns);

double pillarbox(const Image* frame, Scratch&) {
    if (!indexFits32(frame)) {
        return ::pillarbox(frame);
    }
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t w2 = w >> 1;
    // Without two rows nothing is compared and every position passes.
    const uint32_t columns = (h >> 1) == 0 ? w2 : HWY_DYNAMIC_DISPATCH(LeadingBarColumns)(frame->data, w, h);
    return static_cast<double>(columns) / static_cast<double>(w2);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
