// The frame sums in one walk: the frame is taken in bands of rows that stay
// in the caches, and within a band one vector of columns at a time goes down
// the rows. Each row's samples at x - 1, x and x + 1 are loaded and widened
// once (with 32 vector registers, split into even and odd columns instead
// of widened) and serve all three sums; the Sobel operator is applied as separable
// passes (gx is the vertical [1 2 1] smoothing of the horizontal differences
// d = p(x+1) - p(x-1), gy the vertical difference of the horizontal [1 2 1]
// smoothings s), with the last three rows' d and s kept in registers.
//
// The Roberts energy comes from the horizontal terms: with u and c the rows
// above and at y, and v(x) = u(x) - c(x),
//   (u(x-1) - c(x))^2 + (u(x) - c(x-1))^2
//     = (u(x) - u(x-1))^2 + (c(x) - c(x-1))^2 + 2 v(x-1) v(x),
// so summed over rows 1 ... h - 1 it is twice the horizontal sum, plus row
// 0's horizontal terms, less row h - 1's, plus twice the sum of the
// products v(x-1) v(x): one product a sample instead of two squares. Every
// term is an integer; the sums are integer sums, the same in any order.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/frameSums.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>
#include <hwy/cache_control.h>

#include <bit>
#include <cstddef>
#include <cstdint>

#include "kernels/bands.h"
#include "kernels/blockStats.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/slots.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The horizontal terms (p(x) - p(x - 1))^2 of row p, x = 1 ... w - 1.
inline uint64_t RowHorizontal(const uint8_t* p, size_t w) {
    uint64_t sum = 0;
    for (size_t x = 1; x < w; ++x) {
        const int32_t g = int32_t{p[x]} - int32_t{p[x - 1]};
        sum += static_cast<uint64_t>(g * g);
    }
    return sum;
}

// The three sums one sample at a time, in loops the compiler vectorises for
// the baseline instruction set.
FrameSums SumsBySample(const uint8_t* p, size_t w, size_t h) {
    FrameSums sums;
    for (size_t y = 1; y < h; ++y) {
        const uint8_t* above = p + (y - 1) * w;
        const uint8_t* row = above + w;
        // 32-bit sums over chunks of 2^15 samples, whose terms (at most
        // 130 050 each) cannot overflow them.
        for (size_t start = 1; start < w; start += size_t{1} << 15) {
            const size_t end = w - start > (size_t{1} << 15) ? start + (size_t{1} << 15) : w;
            uint32_t horizontal = 0;
            uint32_t roberts = 0;
            for (size_t x = start; x < end; ++x) {
                const int32_t g = int32_t{row[x]} - int32_t{row[x - 1]};
                const int32_t d1 = int32_t{above[x - 1]} - int32_t{row[x]};
                const int32_t d2 = int32_t{above[x]} - int32_t{row[x - 1]};
                horizontal += static_cast<uint32_t>(g * g);
                roberts += static_cast<uint32_t>(d1 * d1 + d2 * d2);
            }
            sums.horizontal += horizontal;
            sums.roberts += roberts;
        }
        if (y + 1 == h) {
            break;
        }
        const uint8_t* below = row + w;
        uint64_t total = 0;
        for (size_t x = 1; x + 1 < w; ++x) {
            const int32_t gx =
                (above[x + 1] + 2 * row[x + 1] + below[x + 1]) - (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
            const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) - (above[x - 1] + 2 * above[x] + above[x + 1]);
            total += static_cast<uint64_t>(gx * gx + gy * gy);
        }
        sums.sobel += total;
    }
    return sums;
}

// The sums of the frame. After each band of rows, read(context, rows) is
// told how many rows from the top the walk has read in full, so that other
// work on them finds them in the caches.
FrameSums SumFrame(const uint8_t* p, size_t w, size_t h, void (*read)(void*, size_t), void* context) {
#if HWY_TARGET == HWY_SCALAR
    const FrameSums sums = SumsBySample(p, w, h);
    read(context, h);
    return sums;
#else
    static_assert(std::endian::native == std::endian::little, "a 16-bit lane's low byte is its first sample");
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint16_t, decltype(d8)> du16;
    const hn::RebindToSigned<decltype(du16)> d16;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    using V = hn::Vec<decltype(d16)>;
    using M = hn::Mask<decltype(d16)>;
#if HWY_TARGET <= HWY_AVX3
    const size_t n = hn::Lanes(d8);  // columns per step
#else
    const hn::Rebind<uint8_t, decltype(d16)> d8half;
    const size_t n = hn::Lanes(d16);  // columns per step
#endif
    if (w < n + 2) {
        const FrameSums sums = SumsBySample(p, w, h);
        read(context, h);
        return sums;
    }
    constexpr size_t kBand = 16;
    // Per row, a 32-bit lane gains at most 8 squares of at most 1 040 400
    // (Sobel), 4 of at most 65 025 (horizontal) and 2 products of at most
    // 130 050 in size (cross, signed), half of each with one column a lane:
    // emptied after at most 256 rows of Sobel terms and 257 of the others,
    // each stays below 2^31 in size.
    constexpr size_t kStepsPerFlush = 256 / kBand;
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    FrameSums sums;
    int64_t crossTotal = 0;  // the sum of the products v(x-1) v(x)
    auto sobel = hn::Zero(d32);
    auto horizontal = hn::Zero(d32);
    auto cross = hn::Zero(d32);
    // The second accumulators of the widening products (unused on x86).
    auto sobel1 = hn::Zero(d32);
    auto horizontal1 = hn::Zero(d32);
    auto cross1 = hn::Zero(d32);
    const auto empty = [&](auto& lanes, uint64_t& total) {
        hn::Store(lanes, d32, parts);
        for (size_t i = 0; i < hn::Lanes(d32); ++i) {
            total += static_cast<uint64_t>(static_cast<uint32_t>(parts[i]));
        }
        lanes = hn::Zero(d32);
    };
    const auto emptySigned = [&](auto& lanes, int64_t& total) {
        hn::Store(lanes, d32, parts);
        for (size_t i = 0; i < hn::Lanes(d32); ++i) {
            total += parts[i];
        }
        lanes = hn::Zero(d32);
    };
    const auto flush = [&] {
        empty(sobel, sums.sobel);
        empty(horizontal, sums.horizontal);
        emptySigned(cross, crossTotal);
        empty(sobel1, sums.sobel);
        empty(horizontal1, sums.horizontal);
        emptySigned(cross1, crossTotal);
    };
#if HWY_TARGET <= HWY_AVX3
    // With 32 vector registers, a step takes columns at ... at + n - 1 as
    // two halves of 16-bit lanes,
    // the even columns at + 2i and the odd ones at + 2i + 1: three loads of
    // a row, at at - 1, at and at + 1, give by masking or shifting their
    // 16-bit lanes a = p(at + 2i - 1), b = p(at + 2i), c = p(at + 2i + 1)
    // and e = p(at + 2i + 2), an even column's left, centre and right
    // samples being a, b, c and an odd one's b, c, e, without a widening
    // shuffle. The products v(x-1) v(x) of both halves are then
    // v(b) (v(a) + v(c)).
    struct Row {
        V a, b, c, dEven, dOdd, sEven, sOdd;
    };
    // Output rows y0 ... y1 - 1 of the step's columns, and the horizontal
    // terms and products v(x-1) v(x) of rows y0 + 1 ... y1 (and of row y0
    // when first); with masked, the first k columns count as 0: the even
    // lanes i with 2i < k and the odd ones with 2i + 1 < k.
    const auto columns = [&](size_t y0, size_t y1, size_t at, bool first, bool masked, size_t k) {
        const M freshEven = hn::Not(hn::FirstN(d16, (k + 1) / 2));
        const M freshOdd = hn::Not(hn::FirstN(d16, k / 2));
        // The step's sums, in registers, added to the running ones at its
        // end.
        auto stepSobel = hn::Zero(d32), stepHorizontal = hn::Zero(d32), stepCross = hn::Zero(d32);
        auto stepSobel1 = hn::Zero(d32), stepHorizontal1 = hn::Zero(d32), stepCross1 = hn::Zero(d32);
        const auto low = hn::Set(du16, 0xFF);
        const auto load = [&](size_t y) {
            const uint8_t* row = p + y * w + at;
            const auto before = hn::BitCast(du16, hn::LoadU(d8, row - 1));
            const auto here = hn::BitCast(du16, hn::LoadU(d8, row));
            const auto after = hn::BitCast(du16, hn::LoadU(d8, row + 1));
            Row v;
            v.a = hn::BitCast(d16, hn::And(before, low));
            v.b = hn::BitCast(d16, hn::And(here, low));
            v.c = hn::BitCast(d16, hn::ShiftRight<8>(here));
            const V e = hn::BitCast(d16, hn::ShiftRight<8>(after));
            v.dEven = hn::Sub(v.c, v.a);
            v.dOdd = hn::Sub(e, v.b);
            v.sEven = hn::Add(hn::Add(v.a, v.c), hn::Add(v.b, v.b));
            v.sOdd = hn::Add(hn::Add(v.b, e), hn::Add(v.c, v.c));
            if (masked) {
                v.dEven = hn::IfThenElseZero(freshEven, v.dEven);
                v.dOdd = hn::IfThenElseZero(freshOdd, v.dOdd);
                v.sEven = hn::IfThenElseZero(freshEven, v.sEven);
                v.sOdd = hn::IfThenElseZero(freshOdd, v.sOdd);
            }
            return v;
        };
        // The horizontal terms and products v(x-1) v(x) of row cur under
        // row up.
        const auto count = [&](const Row& up, const Row& cur) {
            auto gEven = hn::Sub(cur.b, cur.a);
            auto gOdd = hn::Sub(cur.c, cur.b);
            auto va = hn::Sub(up.a, cur.a);
            const auto vb = hn::Sub(up.b, cur.b);
            auto vc = hn::Sub(up.c, cur.c);
            if (masked) {
                gEven = hn::IfThenElseZero(freshEven, gEven);
                gOdd = hn::IfThenElseZero(freshOdd, gOdd);
                va = hn::IfThenElseZero(freshEven, va);
                vc = hn::IfThenElseZero(freshOdd, vc);
            }
            stepHorizontal = hn::ReorderWidenMulAccumulate(d32, gEven, gEven, stepHorizontal, stepHorizontal1);
            stepHorizontal = hn::ReorderWidenMulAccumulate(d32, gOdd, gOdd, stepHorizontal, stepHorizontal1);
            stepCross = hn::ReorderWidenMulAccumulate(d32, vb, hn::Add(va, vc), stepCross, stepCross1);
        };
        Row up = load(y0 - 1);
        Row mid = load(y0);
        if (first) {
            count(up, mid);
        }
        // gx(y) = d(y - 1) + 2 d(y) + d(y + 1) = pair(y - 1) + pair(y), with
        // pair(y) = d(y) + d(y + 1).
        V pairEven = hn::Add(up.dEven, mid.dEven);
        V pairOdd = hn::Add(up.dOdd, mid.dOdd);
        for (size_t y = y0; y < y1; ++y) {
            const Row down = load(y + 1);
            count(mid, down);
            const V nextEven = hn::Add(mid.dEven, down.dEven);
            const V nextOdd = hn::Add(mid.dOdd, down.dOdd);
            const V gxEven = hn::Add(pairEven, nextEven);
            const V gxOdd = hn::Add(pairOdd, nextOdd);
            const V gyEven = hn::Sub(down.sEven, up.sEven);
            const V gyOdd = hn::Sub(down.sOdd, up.sOdd);
            stepSobel = hn::ReorderWidenMulAccumulate(d32, gxEven, gxEven, stepSobel, stepSobel1);
            stepSobel = hn::ReorderWidenMulAccumulate(d32, gxOdd, gxOdd, stepSobel, stepSobel1);
            stepSobel = hn::ReorderWidenMulAccumulate(d32, gyEven, gyEven, stepSobel, stepSobel1);
            stepSobel = hn::ReorderWidenMulAccumulate(d32, gyOdd, gyOdd, stepSobel, stepSobel1);
            pairEven = nextEven;
            pairOdd = nextOdd;
            up = mid;
            mid = down;
        }
        sobel = hn::Add(sobel, stepSobel);
        horizontal = hn::Add(horizontal, stepHorizontal);
        cross = hn::Add(cross, stepCross);
        sobel1 = hn::Add(sobel1, stepSobel1);
        horizontal1 = hn::Add(horizontal1, stepHorizontal1);
        cross1 = hn::Add(cross1, stepCross1);
    };
#else
    // With 16 vector registers, one column a 16-bit lane: the three loads
    // of a row widened. Output rows y0 ... y1 - 1 of columns at ... at + n -
    // 1, and the horizontal terms and products v(x-1) v(x) of rows y0 + 1
    // ... y1 (and of row y0 when first); with masked, the first k columns
    // count as 0.
    const auto columns = [&](size_t y0, size_t y1, size_t at, bool first, bool masked, size_t k) {
        const M fresh = hn::Not(hn::FirstN(d16, k));
        struct Row {
            V l, c, d, s;
        };
        const auto load = [&](size_t y) {
            const uint8_t* row = p + y * w + at;
            Row v;
            v.l = hn::PromoteTo(d16, hn::LoadU(d8half, row - 1));
            v.c = hn::PromoteTo(d16, hn::LoadU(d8half, row));
            const auto r = hn::PromoteTo(d16, hn::LoadU(d8half, row + 1));
            v.d = hn::Sub(r, v.l);
            v.s = hn::Add(hn::Add(v.l, r), hn::Add(v.c, v.c));
            if (masked) {
                v.d = hn::IfThenElseZero(fresh, v.d);
                v.s = hn::IfThenElseZero(fresh, v.s);
            }
            return v;
        };
        // The horizontal terms and products v(x-1) v(x) of row cur under
        // row up.
        const auto count = [&](const Row& up, const Row& cur) {
            auto g = hn::Sub(cur.c, cur.l);
            auto vl = hn::Sub(up.l, cur.l);
            const auto vc = hn::Sub(up.c, cur.c);
            if (masked) {
                g = hn::IfThenElseZero(fresh, g);
                vl = hn::IfThenElseZero(fresh, vl);
            }
            horizontal = hn::ReorderWidenMulAccumulate(d32, g, g, horizontal, horizontal1);
            cross = hn::ReorderWidenMulAccumulate(d32, vl, vc, cross, cross1);
        };
        Row up = load(y0 - 1);
        Row mid = load(y0);
        if (first) {
            count(up, mid);
        }
        // gx(y) = d(y - 1) + 2 d(y) + d(y + 1) = pair(y - 1) + pair(y), with
        // pair(y) = d(y) + d(y + 1).
        auto pair = hn::Add(up.d, mid.d);
        for (size_t y = y0; y < y1; ++y) {
            const Row down = load(y + 1);
            count(mid, down);
            const auto next = hn::Add(mid.d, down.d);
            const auto gx = hn::Add(pair, next);
            const auto gy = hn::Sub(down.s, up.s);
            sobel = hn::ReorderWidenMulAccumulate(d32, gx, gx, sobel, sobel1);
            sobel = hn::ReorderWidenMulAccumulate(d32, gy, gy, sobel, sobel1);
            pair = next;
            up = mid;
            mid = down;
        }
    };
#endif
    for (size_t y0 = 1; y0 + 1 < h; y0 += kBand) {
        const size_t y1 = y0 + kBand < h - 1 ? y0 + kBand : h - 1;
        const bool first = y0 == 1;
        // The rows of the next band are asked for one step at a time, a band
        // ahead of their use. The walk takes a step's columns down the 18
        // rows of the band at once, more streams than the processor follows
        // on its own: a frame that is not in the caches (a decoder's picture)
        // would otherwise make the walk wait on memory at every step.
        const size_t ahead0 = y1 + 1;
        const size_t ahead1 = y1 + 1 + kBand < h ? y1 + 1 + kBand : h;
        size_t x = 1;
        for (size_t steps = 1; x + n <= w - 1; x += n, ++steps) {
            for (size_t y = ahead0; y < ahead1; ++y) {
                hwy::Prefetch(p + y * w + x);
            }
            columns(y0, y1, x, first, false, 0);
            if (steps % kStepsPerFlush == 0) {
                flush();
            }
        }
        // The last columns by one more step ending at column w - 2, its
        // columns before x (counted already) set to 0.
        if (x < w - 1) {
            const size_t at = w - 1 - n;
            columns(y0, y1, at, first, true, x - at);
        }
        flush();
        // Column w - 1, which has no Sobel term.
        for (size_t y = first ? 1 : y0 + 1; y <= y1; ++y) {
            const uint8_t* up = p + (y - 1) * w;
            const uint8_t* cur = up + w;
            const int32_t g = int32_t{cur[w - 1]} - int32_t{cur[w - 2]};
            sums.horizontal += static_cast<uint64_t>(g * g);
            crossTotal += (int32_t{up[w - 2]} - int32_t{cur[w - 2]}) * (int32_t{up[w - 1]} - int32_t{cur[w - 1]});
        }
        read(context, y1 + 1 < h ? y1 + 1 : h);
    }
    // The sum is not negative; in 64-bit wrap-around arithmetic its parts
    // give it exactly.
    sums.roberts = 2 * sums.horizontal + RowHorizontal(p, w) - RowHorizontal(p + (h - 1) * w, w) +
                   2 * static_cast<uint64_t>(crossTotal);
    return sums;
#endif
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SumFrame);

namespace {

using Shared = Scratch::Shared;

// The work on the rows the walk has read: the block statistics (when sums is
// not null), slice's band matches (when matches is not null),
// blockiness's walk (when blockiness), interlace's combed blocks (when
// combed is not null), block loss's grid energies (when gridEnergies is
// not null) and the changes against the frame before (when pair is not
// null).
struct Joint {
    const Image* frame;
    int32_t* sums = nullptr;
    int32_t* squares = nullptr;
    size_t blockRows = 0;  // block rows computed
    uint64_t* matches = nullptr;
    size_t bands = 0;  // bands computed
    bool blockiness = false;
    BlockinessWalk steps{};
    size_t rowsWalked = 0;  // rows of blockiness's walk
    uint32_t* combed = nullptr;
    size_t combRows = 0;  // block rows of interlace counted
    uint16_t* gridEnergies = nullptr;
    size_t energyRows = 0;  // rows of block loss's energies
    PairChanges* pair = nullptr;
    size_t changeRows = 0;  // block rows compared with the frame before

    static void read(void* context, size_t rows) {
        auto& joint = *static_cast<Joint*>(context);
        const size_t bh = joint.frame->h / 8;
        if (joint.sums != nullptr && rows / 8 > joint.blockRows) {
            const size_t ready = rows / 8 < bh ? rows / 8 : bh;
            blockRowsStats(joint.frame, joint.blockRows, ready, joint.sums, joint.squares);
            joint.blockRows = ready;
        }
        // Band k compares rows 16 k ... 16 k + 31.
        if (joint.matches != nullptr && rows >= 32) {
            const size_t all = sliceBands(joint.frame);
            const size_t ready = (rows - 16) / 16 < all ? (rows - 16) / 16 : all;
            if (ready > joint.bands) {
                sliceBandMatches(joint.frame, joint.bands, ready, joint.matches);
                joint.bands = ready;
            }
        }
        if (joint.blockiness && rows > joint.rowsWalked) {
            blockinessRows(joint.frame, joint.rowsWalked, rows, joint.steps);
            joint.rowsWalked = rows;
        }
        if (joint.combed != nullptr && rows / 4 > joint.combRows) {
            combedBlocks(joint.frame, joint.combRows, rows / 4, joint.combed);
            joint.combRows = rows / 4;
        }
        if (joint.gridEnergies != nullptr && rows > joint.energyRows) {
            gridColumnEnergies(joint.frame, joint.energyRows, rows, joint.gridEnergies);
            joint.energyRows = rows;
        }
        if (joint.pair != nullptr && rows / 8 > joint.changeRows) {
            const size_t ready = rows / 8 < bh ? rows / 8 : bh;
            joint.pair->squares += changesAndSquares(joint.frame, joint.pair->previous, joint.changeRows, ready,
                                                     false, joint.pair->changed);
            joint.changeRows = ready;
        }
    }
};

void ignoreRows(void*, size_t) {}

FrameSums* keptSums(Scratch& scratch) { return scratch.get<FrameSums>(slot(KernelSlots::shared, 2), 1); }

}  // namespace

FrameSums frameSums(const Image* frame, Scratch& scratch, PairChanges* pair) {
    FrameSums* kept = keptSums(scratch);
    if (!scratch.holds(Shared::frameSums, frame) && !walkJointly(frame, scratch, Shared::frameSums, pair)) {
        *kept = HWY_DYNAMIC_DISPATCH(SumFrame)(frame->data, frame->w, frame->h, &ignoreRows, nullptr);
    }
    return *kept;
}

bool walkJointly(const Image* frame, Scratch& scratch, Scratch::Shared asker, PairChanges* pair) {
    if (!scratch.joint(asker) || !scratch.joint(Shared::frameSums) || frame->w < 3 || frame->h < 3 ||
        !indexFits32(frame)) {
        return false;
    }
    // The frame sums drive the walk: none without them to compute.
    if (asker != Shared::frameSums && scratch.holds(Shared::frameSums, frame)) {
        return false;
    }
    // The asker's result is now this frame's; the other joint ones are
    // taken when no kernel has computed them yet.
    const auto take = [&](Shared result) {
        return result == asker || (scratch.joint(result) && !scratch.holds(result, frame));
    };
    Joint joint{frame};
    if (take(Shared::blockStats)) {
        const BlockStats stats = blockStatsBuffers(frame, scratch);
        joint.sums = const_cast<int32_t*>(stats.sums);
        joint.squares = const_cast<int32_t*>(stats.squares);
    }
    if (sliceApplies(frame) && take(Shared::sliceMatches)) {
        joint.matches = sliceMatchBuffer(frame, scratch);
    }
    if (take(Shared::blockinessRows)) {
        joint.blockiness = true;
        joint.steps = blockinessWalk(frame, scratch);
    }
    if (take(Shared::combedBlocks)) {
        joint.combed = combedCount(scratch);
        *joint.combed = 0;
    }
    if (gridEnergiesApply(frame) && take(Shared::gridEnergies)) {
        joint.gridEnergies = gridEnergyBuffer(frame, scratch);
    }
    if (pair != nullptr) {
        pair->squares = 0;
        joint.pair = pair;
    }
    *keptSums(scratch) = HWY_DYNAMIC_DISPATCH(SumFrame)(frame->data, frame->w, frame->h, &Joint::read, &joint);
    if (pair != nullptr) {
        // The block rows the walk has not reached (none once it has read the
        // last row) and the rows below the last whole block row.
        pair->squares += changesAndSquares(frame, pair->previous, joint.changeRows, frame->h / 8, true, pair->changed);
        pair->done = true;
    }
    return true;
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
