// Vector building blocks shared by the fast kernels, compiled once per
// Highway target (include after hwy/highway.h, inside the kernel's
// per-target pass). Everything here is exact: integer work only.

// Per-target include guard: this header is entered once per target.
#if defined(NRVQ_KERNELS_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef NRVQ_KERNELS_SIMD_INL_H_
#undef NRVQ_KERNELS_SIMD_INL_H_
#else
#define NRVQ_KERNELS_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// |a - b| per byte, from two saturating subtractions (one of them is 0).
template <class V>
HWY_INLINE V AbsDiffU8(V a, V b) {
    return hn::Or(hn::SaturatedSub(a, b), hn::SaturatedSub(b, a));
}

// Sum of |a[i] - b[i]| over i < n.
HWY_INLINE uint64_t SumAbsDiffU8(const uint8_t* a, const uint8_t* b, size_t n) {
#if HWY_TARGET == HWY_SCALAR
    // 32-bit partial sums over chunks that cannot overflow, which the
    // compiler vectorises for the baseline instruction set.
    constexpr size_t kChunk = size_t{1} << 20;
    uint64_t sum = 0;
    for (size_t start = 0; start < n; start += kChunk) {
        const size_t end = n - start < kChunk ? n : start + kChunk;
        uint32_t part = 0;
        for (size_t i = start; i < end; ++i) {
            part += static_cast<uint32_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
        }
        sum += part;
    }
    return sum;
#else
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t lanes = hn::Lanes(d8);
    auto acc = hn::Zero(d64);
    size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        acc = hn::Add(acc, hn::SumsOf8(AbsDiffU8(hn::LoadU(d8, a + i), hn::LoadU(d8, b + i))));
    }
    uint64_t total = hn::GetLane(hn::SumOfLanes(d64, acc));
    for (; i < n; ++i) {
        total += static_cast<uint64_t>(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
    }
    return total;
#endif
}

// Sum of (a[i] - b[i])^2 over i < n.
HWY_INLINE uint64_t SumSquaredDiffU8(const uint8_t* a, const uint8_t* b, size_t n) {
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

// True when p[0 ... n-1] all equal v.
HWY_INLINE bool AllEqualU8(const uint8_t* p, size_t n, uint8_t v) {
    const hn::ScalableTag<uint8_t> d8;
    const size_t lanes = hn::Lanes(d8);
    const auto level = hn::Set(d8, v);
    size_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        if (!hn::AllTrue(d8, hn::Eq(hn::LoadU(d8, p + i), level))) {
            return false;
        }
    }
    for (; i < n; ++i) {
        if (p[i] != v) {
            return false;
        }
    }
    return true;
}

// The first j < n with p[j] != p[j + 1], or n when there is none; reads
// p[0 ... n].
HWY_INLINE size_t FirstAdjacentMismatchU8(const uint8_t* p, size_t n) {
    const hn::ScalableTag<uint8_t> d8;
    const size_t lanes = hn::Lanes(d8);
    size_t j = 0;
    for (; j + lanes <= n; j += lanes) {
        const auto differ = hn::Ne(hn::LoadU(d8, p + j), hn::LoadU(d8, p + j + 1));
        const intptr_t first = hn::FindFirstTrue(d8, differ);
        if (first >= 0) {
            return j + static_cast<size_t>(first);
        }
    }
    for (; j < n; ++j) {
        if (p[j] != p[j + 1]) {
            return j;
        }
    }
    return n;
}

// out[k] = the sum of the 8 x 8 block whose top-left sample is top + 8k,
// its rows stride samples apart, for k < blocks.
HWY_INLINE void BlockSums8x8(const uint8_t* top, size_t stride, size_t blocks, uint64_t* out) {
    size_t k = 0;
#if HWY_TARGET != HWY_SCALAR
    // Each 64-bit lane of SumsOf8 is the sum of one block's 8 samples of a row.
    const hn::ScalableTag<uint8_t> d8;
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    const size_t lanes = hn::Lanes(d64);
    for (; k + lanes <= blocks; k += lanes) {
        const uint8_t* p = top + 8 * k;
        auto acc = hn::SumsOf8(hn::LoadU(d8, p));
        for (size_t r = 1; r < 8; ++r) {
            acc = hn::Add(acc, hn::SumsOf8(hn::LoadU(d8, p + r * stride)));
        }
        hn::StoreU(acc, d64, out + k);
    }
#endif
    for (; k < blocks; ++k) {
        uint64_t sum = 0;
        for (size_t r = 0; r < 8; ++r) {
            for (size_t c = 0; c < 8; ++c) {
                sum += top[r * stride + 8 * k + c];
            }
        }
        out[k] = sum;
    }
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // NRVQ_KERNELS_SIMD_INL_H_
