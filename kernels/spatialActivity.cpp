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


HWY_INLINE int32_t SobelTerm(const uint8_t* above, const uint8_t* row, const uint8_t* below, size_t x) {
    const int32_t gx = (above[x + 1] + 2 * row[x + 1] + below[x + 1]) - (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
    const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) - (above[x - 1] + 2 * above[x] + above[x + 1]);
    return gx * gx + gy * gy;
}

// Summed gx^2 + gy^2 over the interior of a w x h frame (w, h >= 3).
uint64_t SobelEnergy(const uint8_t* p, size_t w, size_t h) {
    uint64_t total = 0;
#if HWY_TARGET != HWY_SCALAR
    // Two loads per row, at x - 1 and x + 1, seen as 16-bit lanes, hold the
    // samples of 2 * lanes output columns: their low and high bytes are the
    // left, centre and right neighbours of the even and of the odd outputs.
    // gx and gy fit 16 bits (at most 1020 in magnitude); their squares are
    // summed in pairs into 32-bit lanes. A lane takes at most 8 squares of at
    // most 1 040 400 per step, so 128 steps stay below 2^31.
    const hn::ScalableTag<int16_t> d16;
    const hn::Repartition<uint16_t, decltype(d16)> du16;
    const hn::Repartition<uint8_t, decltype(d16)> d8;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const size_t outputs = 2 * hn::Lanes(d16);
    constexpr size_t kStepsPerFlush = 128;
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    const auto lowByte = hn::Set(du16, uint16_t{0xFF});
    const auto low = [&](const uint8_t* q) { return hn::BitCast(d16, hn::And(hn::BitCast(du16, hn::LoadU(d8, q)), lowByte)); };
    const auto high = [&](const uint8_t* q) { return hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(du16, hn::LoadU(d8, q)))); };
#endif
    for (size_t y = 1; y + 1 < h; ++y) {
        const uint8_t* above = p + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        size_t x = 1;
#if HWY_TARGET != HWY_SCALAR
        while (x + outputs <= w - 1) {
            auto sum0 = hn::Zero(d32);
            auto sum1 = hn::Zero(d32);
            for (size_t steps = 0; steps < kStepsPerFlush && x + outputs <= w - 1; ++steps, x += outputs) {
                // Columns x-1+2i (A), x+2i (B), x+1+2i (C), x+2+2i (D).
                const auto aA = low(above + x - 1);
                const auto aB = high(above + x - 1);
                const auto aC = low(above + x + 1);
                const auto aD = high(above + x + 1);
                const auto rA = low(row + x - 1);
                const auto rB = high(row + x - 1);
                const auto rC = low(row + x + 1);
                const auto rD = high(row + x + 1);
                const auto bA = low(below + x - 1);
                const auto bB = high(below + x - 1);
                const auto bC = low(below + x + 1);
                const auto bD = high(below + x + 1);
                // Vertical smoothing (for gx) and vertical differences (for gy) per column.
                const auto sA = hn::Add(hn::Add(aA, hn::Add(rA, rA)), bA);
                const auto sB = hn::Add(hn::Add(aB, hn::Add(rB, rB)), bB);
                const auto sC = hn::Add(hn::Add(aC, hn::Add(rC, rC)), bC);
                const auto sD = hn::Add(hn::Add(aD, hn::Add(rD, rD)), bD);
                const auto dA = hn::Sub(bA, aA);
                const auto dB = hn::Sub(bB, aB);
                const auto dC = hn::Sub(bC, aC);
                const auto dD = hn::Sub(bD, aD);
                const auto gxEven = hn::Sub(sC, sA);
                const auto gxOdd = hn::Sub(sD, sB);
                const auto gyEven = hn::Add(hn::Add(dA, hn::Add(dB, dB)), dC);
                const auto gyOdd = hn::Add(hn::Add(dB, hn::Add(dC, dC)), dD);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gxEven, gxEven, sum0, sum1);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gyEven, gyEven, sum0, sum1);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gxOdd, gxOdd, sum0, sum1);
                sum0 = hn::ReorderWidenMulAccumulate(d32, gyOdd, gyOdd, sum0, sum1);
            }
            hn::Store(hn::Add(sum0, sum1), d32, parts);
            for (size_t i = 0; i < hn::Lanes(d32); ++i) {
                total += static_cast<uint64_t>(static_cast<uint32_t>(parts[i]));
            }
        }
#endif
        for (; x + 1 < w; ++x) {
            total += static_cast<uint64_t>(SobelTerm(above, row, below, x));
        }
    }
    return total;
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
