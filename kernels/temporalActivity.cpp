// Fast temporal activity: the squared differences are summed in 32-bit
// lanes, flushed into 64 bits before they could overflow; the total is the
// same integer as the literal 64-bit sum.
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
namespace hn = hwy::HWY_NAMESPACE;


// Sum of (a[i] - b[i])^2 over i < n.
uint64_t SumSquaredDifferences(const uint8_t* a, const uint8_t* b, size_t n) {
    uint64_t total = 0;
    size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    // Differences in 16-bit lanes, their squares summed in pairs into 32-bit
    // lanes (two sets of them, to shorten the dependency chain): a lane grows
    // by at most 130 050 per step, so 8192 steps stay below 2^31.
    const hn::ScalableTag<int16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const hn::Repartition<int32_t, decltype(d16)> d32;
    const size_t lanes = hn::Lanes(d16);
    constexpr size_t kStepsPerFlush = 8192;
    HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
    while (i + lanes <= n) {
        const size_t available = (n - i) / lanes;
        const size_t steps = available < kStepsPerFlush ? available : kStepsPerFlush;
        auto sum0 = hn::Zero(d32);
        auto sum1 = hn::Zero(d32);
        auto sum2 = hn::Zero(d32);
        size_t step = 0;
        for (; step + 2 <= steps; step += 2, i += 2 * lanes) {
            const auto d0 = hn::Sub(hn::PromoteTo(d16, hn::LoadU(d8, a + i)), hn::PromoteTo(d16, hn::LoadU(d8, b + i)));
            const auto d1 = hn::Sub(hn::PromoteTo(d16, hn::LoadU(d8, a + i + lanes)),
                                    hn::PromoteTo(d16, hn::LoadU(d8, b + i + lanes)));
            sum0 = hn::ReorderWidenMulAccumulate(d32, d0, d0, sum0, sum1);
            sum2 = hn::ReorderWidenMulAccumulate(d32, d1, d1, sum2, sum1);
        }
        for (; step < steps; ++step, i += lanes) {
            const auto d = hn::Sub(hn::PromoteTo(d16, hn::LoadU(d8, a + i)), hn::PromoteTo(d16, hn::LoadU(d8, b + i)));
            sum0 = hn::ReorderWidenMulAccumulate(d32, d, d, sum0, sum1);
        }
        hn::Store(hn::Add(hn::Add(sum0, sum2), sum1), d32, parts);
        for (size_t k = 0; k < hn::Lanes(d32); ++k) {
            total += static_cast<uint64_t>(static_cast<uint32_t>(parts[k]));
        }
    }
#endif
    // 2^15 squares of at most 65 025 stay below 2^32.
    constexpr size_t kChunk = size_t{1} << 15;
    for (; i < n;) {
        const size_t end = n - i < kChunk ? n : i + kChunk;
        uint32_t sum = 0;
        for (; i < end; ++i) {
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
