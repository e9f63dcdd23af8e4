// Fast blackout: the frame's shared block sums are folded, a row of blocks
// at a time, into a running minimum and maximum, and the walk stops as soon as they lie 256
// apart. The literal test 4.0 > (max - min) / 64 on integer sums is exactly
// max - min < 256.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blackout.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/blockStats.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/blackout.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// True when the bw x bh block sums (bw, bh >= 1) all lie less than 256
// apart.
bool FlatBlocks(const int32_t* sums, size_t bw, size_t bh) {
    int32_t lowest = INT32_MAX;
    int32_t highest = 0;
    for (size_t by = 0; by < bh; ++by) {
        const int32_t* row = sums + by * bw;
        for (size_t bx = 0; bx < bw; ++bx) {
            lowest = row[bx] < lowest ? row[bx] : lowest;
            highest = row[bx] > highest ? row[bx] : highest;
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
    const BlockStats stats = blockStats(frame, scratch);
    return HWY_DYNAMIC_DISPATCH(FlatBlocks)(stats.sums, stats.bw, stats.bh);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
