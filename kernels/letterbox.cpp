// Fast letterbox: a row is uniform when every sample equals its first one,
// which is what the literal neighbour-by-neighbour comparison establishes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/letterbox.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/simd-inl.h"
#include "metrics/letterbox.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// The number of leading row pairs (i, h - 1 - i), i < h / 2, that are both
// uniform; w >= 1.
uint32_t LeadingBarRows(const uint8_t* p, uint32_t w, uint32_t h) {
    const uint32_t h2 = h >> 1;
    for (uint32_t i = 0; i < h2; ++i) {
        const uint8_t* upper = p + i * w;
        const uint8_t* lower = p + (h - 1 - i) * w;
        if (!AllEqualU8(upper, w, upper[0]) || !AllEqualU8(lower, w, lower[0])) {
            return i;
        }
    }
    return h2;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(LeadingBarRows);

double letterbox(const Image* frame, Scratch&) {
    if (!indexFits32(frame)) {
        return ::letterbox(frame);
    }
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t h2 = h >> 1;
    if (w == 0 && h2 != 0) {
        return 0.0;  // rows without samples form no bar
    }
    const uint32_t rows = h2 == 0 ? 0 : HWY_DYNAMIC_DISPATCH(LeadingBarRows)(frame->data, w, h);
    return static_cast<double>(rows) / static_cast<double>(h2);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
