// Fast temporal activity: the squared differences are summed in 32-bit
// lanes over chunks small enough never to overflow, then in 64 bits; the
// total is the same integer as the literal 64-bit sum.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/temporalActivity.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {

// Sum of (a[i] - b[i])^2 over i < n. A chunk of 2^15 terms of at most 65025
// stays below 2^31 in any lane.
uint64_t SumSquaredDifferences(const uint8_t* a, const uint8_t* b, size_t n) {
    constexpr size_t kChunk = size_t{1} << 15;
    uint64_t total = 0;
    for (size_t start = 0; start < n; start += kChunk) {
        const size_t end = n - start < kChunk ? n : start + kChunk;
        uint32_t sum = 0;
        for (size_t i = start; i < end; ++i) {
            const int32_t d = int32_t{a[i]} - int32_t{b[i]};
            sum += static_cast<uint32_t>(d * d);
        }
        total += sum;
    }
    return total;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SumSquaredDifferences);

double temporalActivity(const Image* frame, const Image* previous, Scratch&) {
    const uint64_t n = frame->w * frame->h;
    const uint64_t sum = n == 0 ? 0 : HWY_DYNAMIC_DISPATCH(SumSquaredDifferences)(frame->data, previous->data, n);
    return std::sqrt(static_cast<double>(sum)) / std::sqrt(static_cast<double>(frame->w * frame->h));
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
