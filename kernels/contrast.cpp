// Fast RMS contrast: the sample sum (32-bit, wrapping like the literal
// one) and the square sum are gathered in 32-bit lanes over chunks short
// enough that a square sum never overflows, the square sums then in 64 bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/contrast.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// 2^16 squares of at most 65025 stay below 2^32.
void SumAndSquares(const uint8_t* p, size_t n, uint32_t* sum, uint64_t* squares) {
    constexpr size_t kChunk = size_t{1} << 16;
    uint32_t total = 0;
    uint64_t squareTotal = 0;
    for (size_t start = 0; start < n; start += kChunk) {
        const size_t end = n - start < kChunk ? n : start + kChunk;
        uint32_t s = 0;
        uint32_t q = 0;
        for (size_t i = start; i < end; ++i) {
            const uint32_t v = p[i];
            s += v;
            q += v * v;
        }
        total += s;
        squareTotal += q;
    }
    *sum = total;
    *squares = squareTotal;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SumAndSquares);

double contrastRMS(const Image* frame, Scratch&) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(frame->h) * static_cast<uint32_t>(frame->w));
    int32_t sum = 0;
    int64_t squareSum = 0;
    if (n > 0) {
        uint32_t s = 0;
        uint64_t q = 0;
        HWY_DYNAMIC_DISPATCH(SumAndSquares)(frame->data, static_cast<size_t>(n), &s, &q);
        sum = static_cast<int32_t>(s);
        squareSum = static_cast<int64_t>(q);
    }

    // The literal order of operations.
    const double q = static_cast<double>(squareSum);
    const double count = static_cast<double>(n);
    const double s = static_cast<double>(sum);
    const double countLessOne = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(n) - 1u));
    const double a = 1.0 / count;
    const double b = (a * s) * s;
    const double c = q - b;
    const double d = 1.0 / countLessOne;
    const double e = d * c;
    return std::sqrt(e);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
