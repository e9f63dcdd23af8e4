// Fast RMS contrast: the sample sum is gathered in 64 bits (from the frame's
// shared block sums and the samples outside whole blocks) and cut to the
// literal wrapping 32-bit sum at the end; the squares are summed in 32-bit
// lanes flushed into 64 bits before they could overflow.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/contrast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/blockStats.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/contrast.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;


void SumAndSquares(const uint8_t* p, size_t n, uint32_t* sum, uint64_t* squares) {
    uint64_t total = 0;
    uint64_t squareTotal = 0;
    size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    // Samples summed in groups of eight into 64-bit lanes; squares of the
    // samples widened to 16 bits summed in pairs into 32-bit lanes, which
    // grow by at most 2 x 130 050 per step: 4096 steps stay below 2^31.
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const hn::Repartition<int16_t, decltype(d8)> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8half;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const size_t lanes = hn::Lanes(d8);
    const size_t half = hn::Lanes(d16);
    constexpr size_t kStepsPerFlush = 4096;
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    auto sums = hn::Zero(d64);
    while (i + lanes <= n) {
        auto sq0 = hn::Zero(d32);
        auto sq1 = hn::Zero(d32);
        for (size_t steps = 0; steps < kStepsPerFlush && i + lanes <= n; ++steps, i += lanes) {
            sums = hn::Add(sums, hn::SumsOf8(hn::LoadU(d8, p + i)));
            const auto lo = hn::PromoteTo(d16, hn::LoadU(d8half, p + i));
            const auto hi = hn::PromoteTo(d16, hn::LoadU(d8half, p + i + half));
            sq0 = hn::ReorderWidenMulAccumulate(d32, lo, lo, sq0, sq1);
            sq0 = hn::ReorderWidenMulAccumulate(d32, hi, hi, sq0, sq1);
        }
        hn::Store(hn::Add(sq0, sq1), d32, parts);
        for (size_t k = 0; k < hn::Lanes(d32); ++k) {
            squareTotal += static_cast<uint64_t>(static_cast<uint32_t>(parts[k]));
        }
    }
    total = hn::GetLane(hn::SumOfLanes(d64, sums));
#endif
    // 2^16 squares of at most 65 025 stay below 2^32.
    constexpr size_t kChunk = size_t{1} << 16;
    for (; i < n;) {
        const size_t end = n - i < kChunk ? n : i + kChunk;
        uint32_t s = 0;
        uint32_t q = 0;
        for (; i < end; ++i) {
            const uint32_t v = p[i];
            s += v;
            q += v * v;
        }
        total += s;
        squareTotal += q;
    }
    *sum = static_cast<uint32_t>(total);  // the literal 32-bit sum wraps
    *squares = squareTotal;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SumAndSquares);

double contrastRMS(const Image* frame, Scratch& scratch) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(frame->h) * static_cast<uint32_t>(frame->w));
    int32_t sum = 0;
    int64_t squareSum = 0;
    const auto sumAndSquares = HWY_DYNAMIC_DISPATCH(SumAndSquares);
    if (n > 0 && indexFits32(frame) && frame->w >= 8 && frame->h >= 8) {
        // The whole blocks from the frame's shared statistics, then the
        // columns right of them and the rows below them.
        const BlockStats stats = blockStats(frame, scratch);
        uint64_t s = 0;
        uint64_t q = 0;
        for (size_t i = 0; i < stats.bw * stats.bh; ++i) {
            s += static_cast<uint64_t>(stats.sums[i]);
            q += static_cast<uint64_t>(stats.squares[i]);
        }
        const size_t w = frame->w;
        const size_t covered = stats.bw * 8;
        uint32_t partSum = 0;
        uint64_t partSquares = 0;
        if (covered < w) {
            for (size_t y = 0; y < stats.bh * 8; ++y) {
                sumAndSquares(frame->data + y * w + covered, w - covered, &partSum, &partSquares);
                s += partSum;
                q += partSquares;
            }
        }
        const size_t below = stats.bh * 8 * w;
        sumAndSquares(frame->data + below, static_cast<size_t>(n) - below, &partSum, &partSquares);
        s += partSum;
        q += partSquares;
        sum = static_cast<int32_t>(static_cast<uint32_t>(s));  // the literal 32-bit sum wraps
        squareSum = static_cast<int64_t>(q);
    } else if (n > 0) {
        uint32_t s = 0;
        uint64_t q = 0;
        sumAndSquares(frame->data, static_cast<size_t>(n), &s, &q);
        sum = static_cast<int32_t>(s);
        squareSum = static_cast<int64_t>(q);
    }
    return contrastFromSums(n, sum, squareSum);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
