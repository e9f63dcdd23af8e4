// Fast interlace: the zig-zag test runs on whole vectors of columns of a
// row of 4x4 blocks; a block is combed when its four column results, seen
// as one 32-bit lane, are all ones.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/interlace.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "kernels/bands.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/slots.h"
#include "metrics/interlace.h"

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

HWY_INLINE bool ZigZags(uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) {
    return (s0 > s1 && s2 > s1 && s2 > s3) || (s0 < s1 && s2 < s1 && s2 < s3);
}

// Combed blocks among the whole 4x4 blocks of the block rows from ... to - 1
// of a frame w samples wide.
uint32_t CombedBlocks(const uint8_t* p, uint32_t w, uint32_t from, uint32_t to) {
    const size_t columns = static_cast<size_t>(w / 4) * 4;
    uint32_t combed = 0;
    for (uint32_t y = 4 * from; y < 4 * to; y += 4) {
        const uint8_t* r0 = p + static_cast<size_t>(y) * w;
        const uint8_t* r1 = r0 + w;
        const uint8_t* r2 = r1 + w;
        const uint8_t* r3 = r2 + w;
        size_t x = 0;
#if HWY_TARGET != HWY_SCALAR
        const hn::ScalableTag<uint8_t> d8;
        const hn::Repartition<uint32_t, decltype(d8)> d32;
        const size_t lanes = hn::Lanes(d8);
        const auto allOnes = hn::Set(d32, 0xFFFFFFFFu);
        for (; x + lanes <= columns; x += lanes) {
            const auto s0 = hn::LoadU(d8, r0 + x);
            const auto s1 = hn::LoadU(d8, r1 + x);
            const auto s2 = hn::LoadU(d8, r2 + x);
            const auto s3 = hn::LoadU(d8, r3 + x);
            const auto down = hn::And(hn::And(hn::Gt(s0, s1), hn::Gt(s2, s1)), hn::Gt(s2, s3));
            const auto up = hn::And(hn::And(hn::Lt(s0, s1), hn::Lt(s2, s1)), hn::Lt(s2, s3));
            const auto zig = hn::BitCast(d32, hn::VecFromMask(d8, hn::Or(down, up)));
            combed += static_cast<uint32_t>(hn::CountTrue(d32, hn::Eq(zig, allOnes)));
        }
#endif
        for (; x < columns; x += 4) {
            bool all = true;
            for (size_t c = x; c < x + 4 && all; ++c) {
                all = ZigZags(r0[c], r1[c], r2[c], r3[c]);
            }
            combed += all ? 1 : 0;
        }
    }
    return combed;
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(CombedBlocks);

uint32_t* combedCount(Scratch& scratch) { return scratch.get<uint32_t>(slot(KernelSlots::interlace, 0), 1); }

void combedBlocks(const Image* frame, size_t from, size_t to, uint32_t* combed) {
    *combed += HWY_DYNAMIC_DISPATCH(CombedBlocks)(frame->data, static_cast<uint32_t>(frame->w),
                                                  static_cast<uint32_t>(from), static_cast<uint32_t>(to));
}

double interlace(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::interlace(frame);
    }
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    uint32_t* combed = combedCount(scratch);
    if (!scratch.holds(Scratch::Shared::combedBlocks, frame) &&
        !walkJointly(frame, scratch, Scratch::Shared::combedBlocks)) {
        *combed = 0;
        combedBlocks(frame, 0, h / 4, combed);
    }
    const uint32_t blocks = (h / 4) * (w / 4);
    return static_cast<double>(*combed) / static_cast<double>(blocks);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
