// Fast blackout: the block sums of each row of blocks are folded into a
// running minimum and maximum, and the walk stops as soon as they lie 256
// apart. The literal test 4.0 > (max - min) / 64 on integer sums is exactly
// max - min < 256.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blackout.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/simd-inl.h"
#include "kernels/slots.h"
#include "metrics/blackout.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// True when the sums of the bw x bh whole blocks (bw, bh >= 1) of a frame
// with rows stride samples apart all lie less than 256 apart.
bool FlatBlocks(const uint8_t* p, size_t stride, size_t bw, size_t bh, uint64_t* sums) {
    uint64_t lowest = UINT64_MAX;
    uint64_t highest = 0;
    for (size_t by = 0; by < bh; ++by) {
        BlockSums8x8(p + by * 8 * stride, stride, bw, sums);
        for (size_t bx = 0; bx < bw; ++bx) {
            lowest = sums[bx] < lowest ? sums[bx] : lowest;
            highest = sums[bx] > highest ? sums[bx] : highest;
        }
        if (highest - lowest >= 256) {
            return false;
        }
    }
    return true;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(FlatBlocks);

bool blackout(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::blackout(frame);
    }
    const uint32_t bw = static_cast<uint32_t>(frame->w) / 8;
    const uint32_t bh = static_cast<uint32_t>(frame->h) / 8;
    // Without a whole block there are no means to compare: not a blackout.
    if (bw == 0 || bh == 0) {
        return false;
    }
    uint64_t* sums = scratch.get<uint64_t>(slot(KernelSlots::blackout, 0), bw);
    return HWY_DYNAMIC_DISPATCH(FlatBlocks)(frame->data, frame->w, bw, bh, sums);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
