// Fast exposure. The block sums are exact integers, and the lists end up
// holding the four smallest and the four largest of the visited sums
// (together with the initial entries) whatever the order of the visits, so
// the blocks are taken row by row of blocks from the frame's shared block
// sums, and a sum is tried for a list only when it can enter it.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/exposure.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/blockStats.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/exposure.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// Visits the blocks at columns X < w - 8 and rows Y < h - 8 (w, h >= 8),
// taking their sums (from the frame's block sums, bw to a row) into extremes
// as the literal version does; a sum that neither end takes is skipped.
void ExtremeBlocks(const int32_t* blockSums, size_t bw, uint32_t w, uint32_t h, ExposureExtremes& extremes) {
    const size_t columns = (w - 1) / 8;
    const size_t rows = (h - 1) / 8;
    for (size_t by = 0; by < rows; ++by) {
        const int32_t* sums = blockSums + by * bw;
        for (size_t bx = 0; bx < columns; ++bx) {
            const double sum = static_cast<double>(sums[bx]);
            if (extremes.darkest[nBlSum - 1] >= sum || sum >= extremes.brightest[nBlSum - 1]) {
                extremes.add(sum);
            }
        }
    }
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(ExtremeBlocks);

double exposure(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::exposure(frame);
    }
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    ExposureExtremes extremes;
    if (w >= 8 && h >= 8) {
        const BlockStats stats = blockStats(frame, scratch);
        HWY_DYNAMIC_DISPATCH(ExtremeBlocks)(stats.sums, stats.bw, w, h, extremes);
    }
    return extremes.finish();
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
