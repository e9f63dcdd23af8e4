// The block sums and square sums are exact integers, formed in whatever
// order the vectors make convenient.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blockStats.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/blockStats.h"
#include "kernels/frameSums.h"
#include "kernels/slots.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Sum and square sum of each of the bw blocks of the 8 rows from rows on,
// stride samples apart.
void BlockRowStats(const uint8_t* rows, size_t stride, size_t bw, int32_t* blockSums, int32_t* blockSquares) {
    constexpr size_t kBlock = 8;
    const hn::ScalableTag<int16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t n = hn::Lanes(d16);  // samples per step
    HWY_ALIGN uint64_t sums[hn::MaxLanes(d64)];
    HWY_ALIGN int32_t squares[hn::MaxLanes(d32)];
    // Whole blocks per step need at least 8 lanes (the one-lane target takes
    // the block by block path below). Each 64-bit lane of SumsOf8 is one
    // block's row sum; the squares are summed in pairs into 32-bit lanes.
    size_t x = 0;
    for (; n >= kBlock && x + n <= bw * kBlock; x += n) {
        auto s = hn::Zero(d64);
        auto q0 = hn::Zero(d32);
        auto q1 = hn::Zero(d32);
        for (size_t r = 0; r < kBlock; ++r) {
            const auto bytes = hn::LoadU(d8, rows + r * stride + x);
            s = hn::Add(s, hn::SumsOf8(bytes));
            const auto v = hn::PromoteTo(d16, bytes);
            q0 = hn::ReorderWidenMulAccumulate(d32, v, v, q0, q1);
        }
        // Lane j now holds samples 2j and 2j + 1 of the step.
        hn::Store(s, d64, sums);
        hn::Store(hn::RearrangeToOddPlusEven(q0, q1), d32, squares);
        for (size_t b = 0; b < n / kBlock; ++b) {
            const int32_t* q = squares + b * 4;
            blockSums[x / kBlock + b] = static_cast<int32_t>(sums[b]);
            blockSquares[x / kBlock + b] = q[0] + q[1] + q[2] + q[3];
        }
    }
    for (size_t bx = x / kBlock; bx < bw; ++bx) {
        int32_t s = 0;
        int32_t q = 0;
        for (size_t r = 0; r < kBlock; ++r) {
            for (size_t c = 0; c < kBlock; ++c) {
                const int32_t v = rows[r * stride + bx * kBlock + c];
                s += v;
                q += v * v;
            }
        }
        blockSums[bx] = s;
        blockSquares[bx] = q;
    }
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(BlockRowStats);

void blockRowsStats(const Image* frame, size_t from, size_t to, int32_t* sums, int32_t* squares) {
    const size_t bw = static_cast<size_t>(frame->w / 8);
    const auto rowStats = HWY_DYNAMIC_DISPATCH(BlockRowStats);
    for (size_t by = from; by < to; ++by) {
        rowStats(frame->data + by * 8 * frame->w, frame->w, bw, sums + by * bw, squares + by * bw);
    }
}

BlockStats blockStatsBuffers(const Image* frame, Scratch& scratch) {
    const size_t bw = static_cast<size_t>(frame->w / 8);
    const size_t bh = static_cast<size_t>(frame->h / 8);
    return BlockStats{bw, bh, scratch.get<int32_t>(slot(KernelSlots::shared, 0), bw * bh),
                      scratch.get<int32_t>(slot(KernelSlots::shared, 1), bw * bh)};
}

BlockStats blockStats(const Image* frame, Scratch& scratch) {
    const BlockStats stats = blockStatsBuffers(frame, scratch);
    if (!scratch.holds(Scratch::Shared::blockStats, frame) &&
        !walkJointly(frame, scratch, Scratch::Shared::blockStats)) {
        blockRowsStats(frame, 0, stats.bh, const_cast<int32_t*>(stats.sums), const_cast<int32_t*>(stats.squares));
    }
    return stats;
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
