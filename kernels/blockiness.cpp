// Fast blockiness, in one walk over the rows. Each row adds its steps at
// every vertical border (columns b-2, b-1, b) into one accumulator per
// border column; at each border row the horizontal steps of the three rows
// around it are summed at once. The running 32-bit sums of the literal
// version are then rebuilt from these per-border sums: wrap-around sums are
// the same in any order, and only their values after each border enter the
// 64-bit totals.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blockiness.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/bands.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/simd-inl.h"
#include "kernels/slots.h"
#include "metrics/blockiness.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// Adds |row[b-1] - row[b-2]| to inside[k] and |row[b-1] - row[b]| to
// across[k] for the borders b = 8 (k + 1), k < borders.
HWY_INLINE void VerticalSteps(const uint8_t* row, size_t borders, uint64_t* inside, uint64_t* across) {
    size_t k = 0;
#if HWY_TARGET != HWY_SCALAR
    // Lane j of a 64-bit vector loaded from column 8 (k + j) + 6 holds
    // columns b-2, b-1 and b of border k + j in its three lowest bytes. The
    // loads are never aligned; vectors of at most 32 bytes split fewer cache
    // lines than 64-byte ones and measure faster.
    const hn::CappedTag<uint64_t, 4> d64;
    const hn::Repartition<uint8_t, decltype(d64)> d8;
    const size_t lanes = hn::Lanes(d64);
    const auto lowByte = hn::Set(d64, uint64_t{0xFF});
    for (; k + lanes <= borders; k += lanes) {
        const auto bytes = hn::LoadU(d8, row + 8 * k + 6);
        const auto wide = hn::BitCast(d64, bytes);
        const auto next = hn::BitCast(d8, hn::ShiftRight<8>(wide));
        const auto afterNext = hn::BitCast(d8, hn::ShiftRight<16>(wide));
        const auto in = hn::And(hn::BitCast(d64, AbsDiffU8(next, bytes)), lowByte);
        const auto out = hn::And(hn::BitCast(d64, AbsDiffU8(next, afterNext)), lowByte);
        hn::StoreU(hn::Add(hn::LoadU(d64, inside + k), in), d64, inside + k);
        hn::StoreU(hn::Add(hn::LoadU(d64, across + k), out), d64, across + k);
    }
#endif
    for (; k < borders; ++k) {
        const uint8_t* q = row + 8 * k + 6;
        inside[k] += static_cast<uint64_t>(q[1] > q[0] ? q[1] - q[0] : q[0] - q[1]);
        across[k] += static_cast<uint64_t>(q[1] > q[2] ? q[1] - q[2] : q[2] - q[1]);
    }
}

// Sign-extends a running 32-bit sum into a 64-bit total.
HWY_INLINE uint64_t AddRunning(uint64_t total, uint32_t running) {
    return total + static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(running)));
}

// Rows from ... to - 1 of a w x h frame into the walk's state: inside and
// across hold one entry per vertical border, state the inside and across
// totals and running sums (all set to 0 when from is 0).
void BlockinessRows(const uint8_t* p, uint32_t w, uint32_t h, uint32_t from, uint32_t to, uint64_t* inside,
                    uint64_t* across, uint64_t* state) {
    const size_t verticalBorders = w >= 8 ? w / 8 - 1 : 0;
    const uint32_t horizontalBorders = h >= 8 ? h / 8 - 1 : 0;
    if (from == 0) {
        for (size_t k = 0; k < verticalBorders; ++k) {
            inside[k] = 0;
            across[k] = 0;
        }
        for (size_t i = 0; i < 4; ++i) {
            state[i] = 0;
        }
    }
    uint64_t insideTotal = state[0];
    uint64_t acrossTotal = state[1];
    uint32_t insideRunning = static_cast<uint32_t>(state[2]);
    uint32_t acrossRunning = static_cast<uint32_t>(state[3]);
    for (uint32_t r = from; r < to; ++r) {
        const uint8_t* row = p + static_cast<size_t>(r) * w;
#if HWY_TARGET != HWY_SCALAR
        if (verticalBorders != 0) {
            VerticalSteps(row, verticalBorders, inside, across);
        }
#endif
        if (r % 8 == 0 && r >= 8 && r / 8 <= horizontalBorders) {
            const uint8_t* above1 = row - w;
            const uint8_t* above2 = above1 - w;
            insideRunning += static_cast<uint32_t>(SumAbsDiffU8(above1, above2, w));
            acrossRunning += static_cast<uint32_t>(SumAbsDiffU8(above1, row, w));
            insideTotal = AddRunning(insideTotal, insideRunning);
            acrossTotal = AddRunning(acrossTotal, acrossRunning);
        }
    }
    state[0] = insideTotal;
    state[1] = acrossTotal;
    state[2] = insideRunning;
    state[3] = acrossRunning;
}

// The inside and across totals of a w x h frame from the state after all
// its rows.
void BlockinessTotals(const uint8_t* p, uint32_t w, uint32_t h, uint64_t* inside, uint64_t* across,
                      const uint64_t* state, uint64_t* totals) {
    const size_t verticalBorders = w >= 8 ? w / 8 - 1 : 0;
    uint64_t insideTotal = state[0];
    uint64_t acrossTotal = state[1];
#if HWY_TARGET == HWY_SCALAR
    // Without vectors a border column at a time is faster than the
    // scattered per-row updates.
    for (size_t k = 0; k < verticalBorders; ++k) {
        uint32_t in = 0;
        uint32_t out = 0;
        const uint8_t* q = p + 8 * k + 6;
        for (uint32_t r = 0; r < h; ++r, q += w) {
            in += static_cast<uint32_t>(q[1] > q[0] ? q[1] - q[0] : q[0] - q[1]);
            out += static_cast<uint32_t>(q[1] > q[2] ? q[1] - q[2] : q[2] - q[1]);
        }
        inside[k] = in;
        across[k] = out;
    }
#else
    (void)p;
    (void)h;
#endif
    uint32_t insideRunning = 0;
    uint32_t acrossRunning = 0;
    for (size_t k = 0; k < verticalBorders; ++k) {
        insideRunning += static_cast<uint32_t>(inside[k]);
        acrossRunning += static_cast<uint32_t>(across[k]);
        insideTotal = AddRunning(insideTotal, insideRunning);
        acrossTotal = AddRunning(acrossTotal, acrossRunning);
    }
    totals[0] = insideTotal;
    totals[1] = acrossTotal;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(BlockinessRows);
HWY_EXPORT(BlockinessTotals);

BlockinessWalk blockinessWalk(const Image* frame, Scratch& scratch) {
    const size_t borders = frame->w / 8 + 1;
    return BlockinessWalk{scratch.get<uint64_t>(slot(KernelSlots::blockiness, 0), borders),
                          scratch.get<uint64_t>(slot(KernelSlots::blockiness, 1), borders),
                          scratch.get<uint64_t>(slot(KernelSlots::blockiness, 2), 4)};
}

void blockinessRows(const Image* frame, size_t from, size_t to, const BlockinessWalk& walk) {
    HWY_DYNAMIC_DISPATCH(BlockinessRows)(frame->data, static_cast<uint32_t>(frame->w), static_cast<uint32_t>(frame->h),
                                         static_cast<uint32_t>(from), static_cast<uint32_t>(to), walk.inside,
                                         walk.across, walk.state);
}

double blockiness(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::blockiness(frame);
    }
    const BlockinessWalk walk = blockinessWalk(frame, scratch);
    if (!scratch.holds(Scratch::Shared::blockinessRows, frame) &&
        !walkJointly(frame, scratch, Scratch::Shared::blockinessRows)) {
        blockinessRows(frame, 0, frame->h, walk);
    }
    uint64_t totals[2] = {0, 0};
    HWY_DYNAMIC_DISPATCH(BlockinessTotals)(frame->data, static_cast<uint32_t>(frame->w),
                                           static_cast<uint32_t>(frame->h), walk.inside, walk.across, walk.state,
                                           totals);
    const double value = static_cast<double>(totals[0]) / static_cast<double>(totals[1]);
    if (std::isnan(value)) {
        return 1.0;  // no step anywhere: neither inside nor across
    }
    return value;
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
