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
#include "metrics/spatialActivity.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;


// Summed gx^2 + gy^2 over output rows y0 ... y1 - 1 of the interior of a
// w x h frame, one sample at a time, in a loop the compiler vectorises for
// the baseline instruction set.
uint64_t SobelRows(const uint8_t* p, size_t w, size_t y0, size_t y1) {
    uint64_t total = 0;
    for (size_t y = y0; y < y1; ++y) {
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
}

// Summed gx^2 + gy^2 over the interior of a w x h frame (w, h >= 3). The
// operator is separable: gx is the vertical [1 2 1] smoothing of the
// horizontal differences d = p(x+1) - p(x-1), gy the vertical difference of
// the horizontal [1 2 1] smoothings s. The frame is walked in bands of
// output rows that stay in the caches; within a band, one vector of columns
// at a time goes down the rows, computing each row's d and s once and
// keeping the last three rows' in registers. d, s, gx and gy fit 16 bits (at
// most 1020 in magnitude).
uint64_t SobelEnergy(const uint8_t* p, size_t w, size_t h) {
#if HWY_TARGET == HWY_SCALAR
    return SobelRows(p, w, 1, h - 1);
#else
    const hn::ScalableTag<int16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const size_t n = hn::Lanes(d16);
    if (w < n + 2) {
        return SobelRows(p, w, 1, h - 1);
    }
    constexpr size_t kBand = 16;
    // A 32-bit lane gains at most 4 squares of at most 1 040 400 per row:
    // emptied after at most 256 rows of columns it stays below 2^31.
    constexpr size_t kStepsPerFlush = 256 / kBand;
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    uint64_t total = 0;
    auto sum0 = hn::Zero(d32);
    auto sum1 = hn::Zero(d32);
    const auto flush = [&] {
        hn::Store(hn::Add(sum0, sum1), d32, parts);
        for (size_t i = 0; i < hn::Lanes(d32); ++i) {
            total += static_cast<uint64_t>(static_cast<uint32_t>(parts[i]));
        }
        sum0 = hn::Zero(d32);
        sum1 = hn::Zero(d32);
    };
    // Output rows y0 ... y1 - 1 of columns at ... at + n - 1; with masked,
    // only the lanes in fresh count.
    const auto columns = [&](size_t y0, size_t y1, size_t at, bool masked, auto fresh) {
        const auto prepare = [&](size_t y, auto& d, auto& sm) {
            const uint8_t* row = p + y * w + at;
            const auto l = hn::PromoteTo(d16, hn::LoadU(d8, row - 1));
            const auto c = hn::PromoteTo(d16, hn::LoadU(d8, row));
            const auto r = hn::PromoteTo(d16, hn::LoadU(d8, row + 1));
            d = hn::Sub(r, l);
            sm = hn::Add(hn::Add(l, r), hn::Add(c, c));
            if (masked) {
                d = hn::IfThenElseZero(fresh, d);
                sm = hn::IfThenElseZero(fresh, sm);
            }
        };
        auto dUp = hn::Zero(d16);
        auto dMid = hn::Zero(d16);
        auto sUp = hn::Zero(d16);
        auto sMid = hn::Zero(d16);
        prepare(y0 - 1, dUp, sUp);
        prepare(y0, dMid, sMid);
        for (size_t y = y0; y < y1; ++y) {
            auto dDown = hn::Zero(d16);
            auto sDown = hn::Zero(d16);
            prepare(y + 1, dDown, sDown);
            const auto gx = hn::Add(hn::Add(dUp, dDown), hn::Add(dMid, dMid));
            const auto gy = hn::Sub(sDown, sUp);
            sum0 = hn::ReorderWidenMulAccumulate(d32, gx, gx, sum0, sum1);
            sum0 = hn::ReorderWidenMulAccumulate(d32, gy, gy, sum0, sum1);
            dUp = dMid;
            dMid = dDown;
            sUp = sMid;
            sMid = sDown;
        }
    };
    const auto all = hn::FirstN(d16, n);
    for (size_t y0 = 1; y0 + 1 < h; y0 += kBand) {
        const size_t y1 = y0 + kBand < h - 1 ? y0 + kBand : h - 1;
        size_t x = 1;
        for (size_t steps = 1; x + n <= w - 1; x += n, ++steps) {
            columns(y0, y1, x, false, all);
            if (steps % kStepsPerFlush == 0) {
                flush();
            }
        }
        // The last columns by one more step ending at column w - 2, its
        // lanes before column x (counted already) set to 0.
        if (x < w - 1) {
            const size_t at = w - 1 - n;
            columns(y0, y1, at, true, hn::Not(hn::FirstN(d16, x - at)));
        }
        flush();
    }
    return total;
#endif
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
