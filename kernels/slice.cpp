// Fast slice: the vertical and horizontal matches of every band counted in
// one walk over its rows (each sample loaded once for both), with no match
// image.
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

#include "kernels/bands.h"
#include "kernels/frameSums.h"
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

// The vertical and horizontal matches of the rows first ... first + kShift - 1
// (rows w samples apart): samples equal to the one kShift rows below (every
// column) and to the one kShift columns right (the first w - kShift
// columns). Byte lanes count up to 255 matches before they are emptied into
// 64-bit sums.
void bandMatches(const uint8_t* first, size_t w, uint64_t& vertical, uint64_t& horizontal) {
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t n = hn::Lanes(d8);
    const size_t both = w - kShift;  // columns compared both ways
    auto countV = hn::Zero(d8);
    auto countH = hn::Zero(d8);
    auto totalV = hn::Zero(d64);
    auto totalH = hn::Zero(d64);
    size_t steps = 0;
    uint64_t v = 0;
    uint64_t h = 0;
    for (size_t r = 0; r < kShift; ++r) {
        const uint8_t* row = first + r * w;
        const uint8_t* down = row + kShift * w;
        size_t c = 0;
        for (; c + n <= both; c += n) {
            const auto here = hn::LoadU(d8, row + c);
            // A true lane is 0xFF, that is -1.
            countV = hn::Sub(countV, hn::VecFromMask(d8, hn::Eq(here, hn::LoadU(d8, down + c))));
            countH = hn::Sub(countH, hn::VecFromMask(d8, hn::Eq(here, hn::LoadU(d8, row + c + kShift))));
            if (++steps == 255) {
                totalV = hn::Add(totalV, hn::SumsOf8(countV));
                totalH = hn::Add(totalH, hn::SumsOf8(countH));
                countV = hn::Zero(d8);
                countH = hn::Zero(d8);
                steps = 0;
            }
        }
        for (; c < both; ++c) {
            v += row[c] == down[c] ? 1 : 0;
            h += row[c] == row[c + kShift] ? 1 : 0;
        }
        for (; c < w; ++c) {
            v += row[c] == down[c] ? 1 : 0;
        }
    }
    totalV = hn::Add(totalV, hn::SumsOf8(countV));
    totalH = hn::Add(totalH, hn::SumsOf8(countH));
    vertical = v + hn::GetLane(hn::SumOfLanes(d64, totalV));
    horizontal = h + hn::GetLane(hn::SumOfLanes(d64, totalH));
}

// Slice's value from the matches of each band.
double sliceFrame(const Image* frame, const uint64_t* matches, Scratch& scratch) {
    const size_t w = frame->w;
    const size_t h = frame->h;
    const size_t bands = (h - kShift) >> 4;
    double* ratios = scratch.get<double>(slot(KernelSlots::slice, 0), bands);

    // Samples in one band of each match image.
    const double divisorV =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(kShift)));
    const double divisorH =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w - kShift) * static_cast<uint32_t>(kShift)));
    for (size_t k = 0; k < bands; ++k) {
        const double fractionV = static_cast<double>(static_cast<int32_t>(matches[2 * k])) / divisorV;
        const double fractionH = static_cast<double>(static_cast<int32_t>(matches[2 * k + 1])) / divisorH;
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

double SliceKernel(const Image* frame, const uint64_t* matches, Scratch& scratch) {
    return sliceFrame(frame, matches, scratch);
}

void SliceBandMatches(const uint8_t* p, size_t w, size_t from, size_t to, uint64_t* matches) {
    for (size_t k = from; k < to; ++k) {
        bandMatches(p + k * kShift * w, w, matches[2 * k], matches[2 * k + 1]);
    }
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(SliceKernel);
HWY_EXPORT(SliceBandMatches);

bool sliceApplies(const Image* frame) {
    const uint64_t shift = static_cast<uint64_t>(SLICE_BLOCKSIZE);
    // The literal limits: three bands, something to compare across, and a
    // vertical shift that fits 32 bits.
    return frame->h >= 3 * shift && frame->w > shift && frame->w <= static_cast<uint64_t>(INT32_MAX) / shift;
}

size_t sliceBands(const Image* frame) { return static_cast<size_t>((frame->h - SLICE_BLOCKSIZE) >> 4); }

uint64_t* sliceMatchBuffer(const Image* frame, Scratch& scratch) {
    return scratch.get<uint64_t>(slot(KernelSlots::slice, 1), 2 * sliceBands(frame));
}

void sliceBandMatches(const Image* frame, size_t from, size_t to, uint64_t* matches) {
    HWY_DYNAMIC_DISPATCH(SliceBandMatches)(frame->data, frame->w, from, to, matches);
}

double slice(const Image* frame, Scratch& scratch) {
    if (!sliceApplies(frame)) {
        return -1.0;
    }
    uint64_t* matches = sliceMatchBuffer(frame, scratch);
    if (!scratch.holds(Scratch::Shared::sliceMatches, frame) &&
        !walkJointly(frame, scratch, Scratch::Shared::sliceMatches)) {
        sliceBandMatches(frame, 0, sliceBands(frame), matches);
    }
    return HWY_DYNAMIC_DISPATCH(SliceKernel)(frame, matches, scratch);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
