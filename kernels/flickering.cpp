// Fast flickering. A block's mean absolute difference is a multiple of
// 1/64, so it reaches the changing threshold (0.0111) exactly when some
// sample of the block differs, and is 0.0 exactly when none does: the
// classification only needs to know whether a block changed, which is the
// OR of the XORed samples. At the end of a period the k largest switch
// counts are summed from a histogram of the counts instead of a sort; the
// counts are cleared right after, so the sorted order is never seen.
#undef NDEBUG  // the size preconditions stay active in every build type
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/flickering.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cassert>
#include <cstddef>
#include <cstdint>

#include "kernels/kernels.h"
#include "kernels/simd-inl.h"
#include "kernels/slots.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Marks in changed (bw blocks a row, row-major) with 1 the blocks of 8x8
// samples (rows stride samples apart) of block rows by0 ... by1 - 1 in which
// current differs from previous, with 0 the others. With kSquares the same
// walk also returns temporal activity's sum of the squared differences of
// those block rows' samples (bw = stride / 8: all of each row); without, 0.
template <bool kSquares>
uint64_t BlockChanges(const uint8_t* current, const uint8_t* previous, size_t stride, size_t by0, size_t by1,
                      size_t bw, uint8_t* changed) {
    uint64_t total = 0;
    for (size_t by = by0; by < by1; ++by) {
        const uint8_t* cur = current + by * 8 * stride;
        const uint8_t* prev = previous + by * 8 * stride;
        uint8_t* out = changed + by * bw;
        size_t bx = 0;
#if HWY_TARGET != HWY_SCALAR
        const hn::ScalableTag<uint8_t> d8;
        const hn::Repartition<uint64_t, decltype(d8)> d64;
        const hn::Repartition<int16_t, decltype(d8)> d16;
        const hn::Rebind<uint8_t, decltype(d16)> d8half;
        const hn::Repartition<int32_t, decltype(d16)> d32;
        const size_t lanes = hn::Lanes(d64);
        const size_t half = hn::Lanes(d16);
        HWY_ALIGN uint64_t sums[hn::MaxLanes(d64)];
        HWY_ALIGN int32_t parts[hn::MaxLanes(d32)];
        // Squares summed in pairs into 32-bit lanes, which grow by at most
        // 16 x 130 050 per step: emptied every 512 steps and at the end of
        // the block row, each set stays below 2^31.
        constexpr size_t kStepsPerFlush = 512;
        auto squares0 = hn::Zero(d32);
        auto squares1 = hn::Zero(d32);
        const auto flush = [&] {
            hn::Store(hn::Add(squares0, squares1), d32, parts);
            for (size_t k = 0; k < hn::Lanes(d32); ++k) {
                total += static_cast<uint32_t>(parts[k]);
            }
            squares0 = hn::Zero(d32);
            squares1 = hn::Zero(d32);
        };
        for (size_t steps = 1; bx + lanes <= bw; bx += lanes, ++steps) {
            auto differ = hn::Zero(d8);
            for (size_t r = 0; r < 8; ++r) {
                const size_t at = r * stride + 8 * bx;
                differ = hn::Or(differ, hn::Xor(hn::LoadU(d8, cur + at), hn::LoadU(d8, prev + at)));
                if constexpr (kSquares) {
                    for (size_t part = 0; part < 2; ++part) {
                        const auto d = hn::Sub(hn::PromoteTo(d16, hn::LoadU(d8half, cur + at + part * half)),
                                               hn::PromoteTo(d16, hn::LoadU(d8half, prev + at + part * half)));
                        squares0 = hn::ReorderWidenMulAccumulate(d32, d, d, squares0, squares1);
                    }
                }
            }
            hn::Store(hn::SumsOf8(differ), d64, sums);
            for (size_t i = 0; i < lanes; ++i) {
                out[bx + i] = sums[i] != 0 ? 1 : 0;
            }
            if (kSquares && steps % kStepsPerFlush == 0) {
                flush();
            }
        }
        if (kSquares) {
            flush();
        }
#endif
        if (kSquares) {
            // The columns from block bx on, row by row.
            for (size_t r = 0; r < 8; ++r) {
                const size_t at = r * stride + 8 * bx;
                total += SumSquaredDiffU8(cur + at, prev + at, stride - 8 * bx);
            }
        }
        for (; bx < bw; ++bx) {
            uint32_t differ = 0;
            for (size_t r = 0; r < 8; ++r) {
                for (size_t c = 0; c < 8; ++c) {
                    const size_t at = r * stride + 8 * bx + c;
                    differ |= static_cast<uint32_t>(cur[at] ^ prev[at]);
                }
            }
            out[bx] = differ != 0 ? 1 : 0;
        }
    }
    return total;
}

void ChangedBlocks(const uint8_t* current, const uint8_t* previous, size_t stride, size_t bw, size_t bh,
                   uint8_t* changed) {
    BlockChanges<false>(current, previous, stride, 0, bh, bw, changed);
}

// Block rows by0 ... by1 - 1 of a w x h frame pair, and with last the rows
// below the last whole block row too.
uint64_t ChangesAndSquares(const uint8_t* current, const uint8_t* previous, size_t w, size_t h, size_t by0,
                           size_t by1, bool last, uint8_t* changed) {
    uint64_t total = BlockChanges<true>(current, previous, w, by0, by1, w / 8, changed);
    if (last) {
        const size_t at = h / 8 * 8 * w;
        total += SumSquaredDiffU8(current + at, previous + at, (h - h / 8 * 8) * w);
    }
    return total;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(ChangedBlocks);
HWY_EXPORT(ChangesAndSquares);

void changedBlocks(const Image* current, const Image* previous, uint64_t bw, uint64_t bh, uint8_t* changed) {
    assert(bw <= current->w / 8 && bh <= current->h / 8);
    assert(previous->w == current->w && previous->h == current->h);
    if (bw != 0 && bh != 0) {
        HWY_DYNAMIC_DISPATCH(ChangedBlocks)(current->data, previous->data, current->w, bw, bh, changed);
    }
}

double changedBlocksAndActivity(const Image* current, const Image* previous, uint8_t* changed) {
    const uint64_t n = current->w * current->h;
    const uint64_t sum = n == 0 ? 0 : changesAndSquares(current, previous, 0, current->h / 8, true, changed);
    return temporalActivityOf(sum, n);
}

uint64_t changesAndSquares(const Image* current, const Image* previous, uint64_t by0, uint64_t by1, bool last,
                           uint8_t* changed) {
    assert(previous->w == current->w && previous->h == current->h);
    assert(by0 <= by1 && by1 <= current->h / 8);
    return HWY_DYNAMIC_DISPATCH(ChangesAndSquares)(current->data, previous->data, current->w, current->h, by0, by1,
                                                   last, changed);
}

double flickeringUpdate(FlickeringState& state, const uint8_t* changed, Image* transitionCounts, Image* blockStates) {
    const uint64_t blocks = transitionCounts->w * transitionCounts->h;
    assert(blockStates->w * blockStates->h >= blocks);
    uint8_t* __restrict counts = transitionCounts->data;
    uint8_t* __restrict states = blockStates->data;
    const uint8_t* __restrict marks = changed;
    // A block's state is 0 (still) or 1 (changing): it switches when the
    // frame's mark differs from it, so the count grows by the two's XOR
    // (wrapping at 8 bits) and the state takes the mark; without branches,
    // a vector of blocks at a time.
    for (uint64_t i = 0; i < blocks; ++i) {
        const uint8_t mark = marks[i] != 0 ? 1 : 0;
        counts[i] = static_cast<uint8_t>(counts[i] + (mark ^ states[i]));
        states[i] = mark;
    }

    if (!state.endsPeriod()) {
        return -1.0;
    }

    const uint32_t n = static_cast<uint32_t>(transitionCounts->w * transitionCounts->h);
    const int32_t k = FlickeringState::averagedBlocks(n);
    uint32_t histogram[256] = {};
    for (uint32_t i = 0; i < n; ++i) {
        ++histogram[transitionCounts->data[i]];
    }
    // The k largest counts, taken from the top of the histogram.
    uint64_t sum = 0;
    uint64_t remaining = static_cast<uint64_t>(k);
    for (int32_t v = 255; v >= 0 && remaining > 0; --v) {
        const uint64_t take = histogram[v] < remaining ? histogram[v] : remaining;
        sum += take * static_cast<uint64_t>(v);
        remaining -= take;
    }
    return state.finishPeriod(sum, k, transitionCounts, blockStates);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
