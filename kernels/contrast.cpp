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
#include "kernels/simd-inl.h"
#include "metrics/contrast.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// The sum (cut to the literal wrapping 32 bits) and the square sum of
// p[0 ... n-1]: their distances to 0, a block of zeros at a time.
void SumAndSquares(const uint8_t* p, size_t n, uint32_t* sum, uint64_t* squares) {
    alignas(64) static constexpr uint8_t kZeros[4096] = {};
    uint64_t total = 0;
    uint64_t squareTotal = 0;
    for (size_t i = 0; i < n; i += sizeof kZeros) {
        const size_t count = n - i < sizeof kZeros ? n - i : sizeof kZeros;
        total += SumAbsDiffU8(p + i, kZeros, count);
        squareTotal += SumSquaredDiffU8(p + i, kZeros, count);
    }
    *sum = static_cast<uint32_t>(total);
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
