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
#include "kernels/simd-inl.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Sum of (a[i] - b[i])^2 over i < n.
uint64_t SumSquaredDifferences(const uint8_t* a, const uint8_t* b, size_t n) { return SumSquaredDiffU8(a, b, n); }

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SumSquaredDifferences);

double temporalActivityOf(uint64_t squaredDifferences, uint64_t samples) {
    return std::sqrt(static_cast<double>(squaredDifferences)) / std::sqrt(static_cast<double>(samples));
}

double temporalActivity(const Image* frame, const Image* previous, Scratch&) {
    const uint64_t n = frame->w * frame->h;
    const uint64_t sum = n == 0 ? 0 : HWY_DYNAMIC_DISPATCH(SumSquaredDifferences)(frame->data, previous->data, n);
    return temporalActivityOf(sum, n);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
