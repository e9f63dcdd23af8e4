// Fast spatial activity. Every Sobel term is an integer below 2^21, so over
// a frame of fewer than 2^32 samples the literal double accumulator holds an
// exact integer below 2^53 at every step: the same total comes from 32-bit
// lane sums, flushed into 64 bits before they could overflow.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/spatialActivity.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/slots.h"
#include "metrics/spatialActivity.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;


// Summed gx^2 + gy^2 over the interior of a w x h frame (w, h >= 3). The
// operator is separable: gx is the vertical [1 2 1] smoothing of the
// horizontal differences d = p(x+1) - p(x-1), gy the vertical difference of
// the horizontal [1 2 1] smoothings s. Every row's d and s are computed once
// (rows holds three rows of each, 2 * 3 * w values) and serve the three
// output rows around it. d, s, gx and gy fit 16 bits (at most 1020 in
// magnitude).
uint64_t SobelEnergy(const uint8_t* p, size_t w, size_t h, int16_t* rows) {
    uint64_t total = 0;
#if HWY_TARGET == HWY_SCALAR
    // One sample at a time, in a loop the compiler vectorises for the
    // baseline instruction set.
    (void)rows;
    for (size_t y = 1; y + 1 < h; ++y) {
        const uint8_t* above = p + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        for (size_t x = 1; x + 1 < w; ++x) {
            const int32_t gx =
                (above[x + 1] + 2 * row[x + 1] + below[x + 1]) - (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
            const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) - (above[x - 1] + 2 * above[x] + above[x + 1]);
            total += static_cast<uint64_t>(gx * gx + gy * gy);
        }
    }
    return total;
#else
    const hn::ScalableTag<int16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const size_t n = hn::Lanes(d16);
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    int16_t* diffs[3] = {rows, rows + w, rows + 2 * w};
    int16_t* smooth[3] = {rows + 3 * w, rows + 4 * w, rows + 5 * w};
    // d and s of row y into slot y % 3, columns 1 ... w - 2.
    const auto prepare = [&](size_t y) {
        const uint8_t* row = p + y * w;
        int16_t* d = diffs[y % 3];
        int16_t* sm = smooth[y % 3];
        const auto step = [&](size_t x) {
            const auto l = hn::PromoteTo(d16, hn::LoadU(d8, row + x - 1));
            const auto c = hn::PromoteTo(d16, hn::LoadU(d8, row + x));
            const auto r = hn::PromoteTo(d16, hn::LoadU(d8, row + x + 1));
            hn::StoreU(hn::Sub(r, l), d16, d + x);
            hn::StoreU(hn::Add(hn::Add(l, r), hn::Add(c, c)), d16, sm + x);
        };
        size_t x = 1;
        for (; x + n <= w - 1; x += n) {
            step(x);
        }
        // The last columns by one more step ending at column w - 2, which
        // writes some again with the same values.
        if (x < w - 1 && n + 1 <= w - 1) {
            step(w - 1 - n);
            x = w - 1;
        }
        for (; x + 1 < w; ++x) {
            d[x] = static_cast<int16_t>(row[x + 1] - row[x - 1]);
            sm[x] = static_cast<int16_t>(row[x - 1] + 2 * row[x] + row[x + 1]);
        }
    };
    prepare(0);
    prepare(1);
    // A 32-bit lane gains at most 4 squares of at most 1 040 400 per step:
    // 256 steps stay below 2^31.
    constexpr size_t kStepsPerFlush = 256;
    for (size_t y = 1; y + 1 < h; ++y) {
        prepare(y + 1);
        const int16_t* dUp = diffs[(y - 1) % 3];
        const int16_t* dMid = diffs[y % 3];
        const int16_t* dDown = diffs[(y + 1) % 3];
        const int16_t* sUp = smooth[(y - 1) % 3];
        const int16_t* sDown = smooth[(y + 1) % 3];
        size_t x = 1;
        while (x + n <= w - 1) {
            auto sum0 = hn::Zero(d32);
            auto sum1 = hn::Zero(d32);
            for (size_t steps = 0; steps < kStepsPerFlush && x + n <= w - 1; ++steps, x += n) {
                const auto mid = hn::LoadU(d16, dMid + x);
                const auto gx = hn::Add(hn::Add(hn::LoadU(d16, dUp + x), hn::LoadU(d16, dDown + x)), hn::Add(mid, mid));
                const auto gy = hn::Sub(hn::LoadU(d16, sDown + x), hn::LoadU(d16, sUp + x));
                sum0 = hn::ReorderWidenMulAccumulate(d32, gx, gx, sum0, sum1);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gy, gy, sum0, sum1);
            }
            // The last columns by one more step ending at column w - 2, its
            // lanes before column x (counted already) set to 0.
            if (x + n > w - 1 && x < w - 1 && n + 1 <= w - 1) {
                const size_t at = w - 1 - n;
                const auto fresh = hn::Not(hn::FirstN(d16, x - at));
                const auto mid = hn::LoadU(d16, dMid + at);
                const auto gx = hn::IfThenElseZero(
                    fresh, hn::Add(hn::Add(hn::LoadU(d16, dUp + at), hn::LoadU(d16, dDown + at)), hn::Add(mid, mid)));
                const auto gy = hn::IfThenElseZero(fresh, hn::Sub(hn::LoadU(d16, sDown + at), hn::LoadU(d16, sUp + at)));
                sum0 = hn::ReorderWidenMulAccumulate(d32, gx, gx, sum0, sum1);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gy, gy, sum0, sum1);
                x = w - 1;
            }
            hn::Store(hn::Add(sum0, sum1), d32, parts);
            for (size_t i = 0; i < hn::Lanes(d32); ++i) {
                total += static_cast<uint64_t>(static_cast<uint32_t>(parts[i]));
            }
        }
        for (; x + 1 < w; ++x) {
            const int32_t gx = dUp[x] + 2 * dMid[x] + dDown[x];
            const int32_t gy = sDown[x] - sUp[x];
            total += static_cast<uint64_t>(gx * gx + gy * gy);
        }
    }
    return total;
#endif
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SobelEnergy);

double spatialActivity(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::spatialActivity(frame);
    }
    const uint64_t w = frame->w;
    const uint64_t h = frame->h;
    uint64_t energy = 0;
    if (w >= 3 && h >= 3) {
        int16_t* rows = scratch.get<int16_t>(slot(KernelSlots::spatialActivity, 0), 6 * w);
        energy = HWY_DYNAMIC_DISPATCH(SobelEnergy)(frame->data, w, h, rows);
    }
    return std::sqrt(static_cast<double>(energy)) / std::sqrt(static_cast<double>(w * h));
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
