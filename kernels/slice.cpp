// Fast slice: the vertical and horizontal matches of every band counted in
// one walk over the rows, with no match image.
//
// The counts are integers (any order gives them); fractions and ratios go
// through the literal double operations. Every ratio is +0, positive, +inf or
// not-a-number. Without a not-a-number the comparator is a total order whose
// equal elements have equal bits, so the first element after the sort is the
// smallest ratio and is taken directly. With one, the first element depends
// on how qsort moves the elements, so the ratios are sorted with qsort and
// the literal comparator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "kernels/kernels.h"
#include "kernels/slots.h"
#include "metrics/slice.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/slice.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

constexpr size_t kShift = 16;

// Number of columns c < count where a[c] == b[c]. Byte lanes count up to
// 255 matches before they are emptied into 64-bit sums.
uint64_t countEqual(const uint8_t* a, const uint8_t* b, size_t count) {
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t n = hn::Lanes(d8);
    uint64_t total = 0;
    size_t c = 0;
    while (c + n <= count) {
        auto matches = hn::Zero(d8);
        for (size_t steps = 0; c + n <= count && steps < 255; c += n, ++steps) {
            const auto equal = hn::Eq(hn::LoadU(d8, a + c), hn::LoadU(d8, b + c));
            matches = hn::Sub(matches, hn::VecFromMask(d8, equal));  // a true lane is 0xFF, that is -1
        }
        total += hn::GetLane(hn::SumOfLanes(d64, hn::SumsOf8(matches)));
    }
    for (; c < count; ++c) {
        total += a[c] == b[c] ? 1 : 0;
    }
    return total;
}

double sliceFrame(const Image* frame, Scratch& scratch) {
    const size_t w = frame->w;
    const size_t h = frame->h;
    const uint8_t* p = frame->data;
    const size_t bands = (h - kShift) >> 4;
    double* ratios = scratch.get<double>(slot(KernelSlots::slice, 0), bands);

    // Samples in one band of each match image.
    const double divisorV =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(kShift)));
    const double divisorH =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w - kShift) * static_cast<uint32_t>(kShift)));
    for (size_t k = 0; k < bands; ++k) {
        uint64_t matchesV = 0;
        uint64_t matchesH = 0;
        for (size_t r = k * kShift; r < (k + 1) * kShift; ++r) {
            const uint8_t* row = p + r * w;
            matchesV += countEqual(row, row + kShift * w, w);
            matchesH += countEqual(row, row + kShift, w - kShift);
        }
        const double fractionV = static_cast<double>(static_cast<int32_t>(matchesV)) / divisorV;
        const double fractionH = static_cast<double>(static_cast<int32_t>(matchesH)) / divisorH;
        ratios[k] = fractionV / fractionH;
    }
    double smallest = ratios[0];
    for (size_t k = 0; k < bands; ++k) {
        if (ratios[k] != ratios[k]) {
            std::qsort(ratios, bands, sizeof(double), compare_Double_asc);
            return 1.0 / ratios[0];
        }
        smallest = ratios[k] < smallest ? ratios[k] : smallest;
    }
    return 1.0 / smallest;
}

}  // namespace

double SliceKernel(const Image* frame, Scratch& scratch) { return sliceFrame(frame, scratch); }

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SliceKernel);

double slice(const Image* frame, Scratch& scratch) {
    const uint64_t shift = static_cast<uint64_t>(SLICE_BLOCKSIZE);
    // The literal limits: three bands, something to compare across, and a
    // vertical shift that fits 32 bits.
    if (frame->h < 3 * shift || frame->w <= shift || frame->w > static_cast<uint64_t>(INT32_MAX) / shift) {
        return -1.0;
    }
    return HWY_DYNAMIC_DISPATCH(SliceKernel)(frame, scratch);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
