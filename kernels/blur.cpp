// Fast blur: no working image. The horizontal energy gx^2 of the whole
// frame, one of the frame sums (kernels/frameSums.h), sets the edge
// threshold E. A walk over the rows then finds the edge pixels of
// each row from absolute backward differences of that row and its two
// neighbours, and measures every edge pixel's width along its row. Why this
// gives the literal value bit for bit:
// - every energy is gx^2 for an integer |gx| of 0 ... 255, so m > E holds
//   exactly when |gx| reaches the smallest a whose a * a, converted to
//   double, exceeds E (found with that very comparison), and comparing two
//   energies is comparing the two |gx|;
// - the walk threshold, a block deviation / 1024, lies in [0, 0.125): a
//   block of 8-bit samples deviates by at most 127.5 and its deviation is
//   never NaN (256 q >= s^2 and every step of its formula is exact up to the
//   square root). For an integer gradient g, g > t is then g >= 1, so the
//   block deviations are not needed;
// - the energy sum is an integer sum (any order), and the two counters
//   wrap at 32 bits as the literal ones do.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/blur.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blur.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

inline uint32_t absDiff(uint8_t a, uint8_t b) { return a > b ? uint32_t{a} - b : uint32_t{b} - a; }

// The three rows around an interior row y and the edge cut.
struct Rows {
    const uint8_t* up;
    const uint8_t* cur;
    const uint8_t* down;
    bool upIsFirst;  // row y - 1 is row 0, whose energies are all 0
    uint32_t cut;    // |gx| >= cut  <=>  gx^2 > E
};

// Whether interior pixel x of the row is an edge pixel: strong, and a
// horizontal or vertical maximum of the energy (ties pass on the left or
// upper side). Column 0 holds energy 0.
inline bool isEdge(const Rows& r, size_t x) {
    const uint32_t a = absDiff(r.cur[x], r.cur[x - 1]);
    if (a < r.cut) {
        return false;
    }
    const uint32_t vertical = absDiff(r.cur[x], r.up[x]);
    const uint32_t left = x >= 2 ? absDiff(r.cur[x - 1], r.cur[x - 2]) : 0;
    const uint32_t right = absDiff(r.cur[x + 1], r.cur[x]);
    const uint32_t above = r.upIsFirst ? 0 : absDiff(r.up[x], r.up[x - 1]);
    const uint32_t below = absDiff(r.down[x], r.down[x - 1]);
    return (a >= vertical && left <= a && a > right) || (above <= a && a > below);
}

// Width of the edge at column x of row cur: the run of columns around x
// whose gradient has the edge's sign, clipped to columns 1 ... w - 2.
inline uint32_t edgeWidth(const uint8_t* cur, size_t x, size_t w) {
    // A rising pixel whose right neighbour falls is measured as falling.
    const bool falling = cur[x] < cur[x - 1] || cur[x + 1] < cur[x];
    const auto qualifies = [&](size_t k) { return falling ? cur[k] < cur[k - 1] : cur[k] > cur[k - 1]; };
    size_t right = x;
    while (right < w - 2 && qualifies(right + 1)) {
        ++right;
    }
    size_t left = x;
    if (x > 1 && qualifies(x)) {
        left = x - 1;
        while (left > 1 && qualifies(left)) {
            --left;
        }
    }
    return static_cast<uint32_t>(right - left);
}

double blurFrame(const Image* frame, uint64_t energy) {
    const size_t w = frame->w;
    const size_t h = frame->h;
    const uint8_t* p = frame->data;

    const double edgeThreshold =
        static_cast<double>(static_cast<int64_t>(energy)) / (static_cast<double>(w) * static_cast<double>(h)) * 16.0;
    uint32_t cut = 1;
    while (cut < 256 && !(static_cast<double>(static_cast<int32_t>(cut * cut)) > edgeThreshold)) {
        ++cut;
    }
    if (cut == 256) {
        return 0.0;  // no energy exceeds the threshold
    }

    const hn::ScalableTag<uint8_t> d8;
    const size_t n = hn::Lanes(d8);
    const auto zero = hn::Zero(d8);
    const auto cutV = hn::Set(d8, static_cast<uint8_t>(cut));
    const auto absd = [&](auto a, auto b) { return hn::Or(hn::SaturatedSub(a, b), hn::SaturatedSub(b, a)); };
    // a >= b and a > b on unsigned bytes.
    const auto ge = [&](auto a, auto b) { return hn::Eq(hn::SaturatedSub(b, a), zero); };
    const auto gt = [&](auto a, auto b) { return hn::Not(hn::Eq(hn::SaturatedSub(a, b), zero)); };
    HWY_ALIGN uint8_t bits[(hn::MaxLanes(d8) + 7) / 8 + 8] = {};

    uint32_t edgePixels = 0;
    uint32_t widthSum = 0;
    const auto visit = [&](const uint8_t* cur, size_t x) {
        edgePixels += 1;
        widthSum += edgeWidth(cur, x, w);
    };
    for (size_t y = 1; y + 1 < h; ++y) {
        const Rows r{p + (y - 1) * w, p + y * w, p + (y + 1) * w, y == 1, cut};
        if (isEdge(r, 1)) {
            visit(r.cur, 1);
        }
        // Columns x ... x + n - 1 read columns x - 2 ... x + n; the first
        // `done` of them were visited already. Narrow vectors (the one-lane
        // target) take the pixel by pixel path.
        const auto step = [&](size_t x, size_t done) {
            const auto c0 = hn::LoadU(d8, r.cur + x);
            const auto c1 = hn::LoadU(d8, r.cur + x - 1);
            const auto a = absd(c0, c1);
            // Few columns are strong enough: most steps end here.
            const auto strong = hn::AndNot(hn::VecFromMask(d8, hn::FirstN(d8, done)), hn::VecFromMask(d8, ge(a, cutV)));
            if (hn::AllTrue(d8, hn::Eq(strong, zero))) {
                return;
            }
            const auto u0 = hn::LoadU(d8, r.up + x);
            const auto left = absd(c1, hn::LoadU(d8, r.cur + x - 2));
            const auto right = absd(hn::LoadU(d8, r.cur + x + 1), c0);
            const auto vertical = absd(c0, u0);
            const auto above = r.upIsFirst ? zero : absd(u0, hn::LoadU(d8, r.up + x - 1));
            const auto below = absd(hn::LoadU(d8, r.down + x), hn::LoadU(d8, r.down + x - 1));
            const auto horizontalMax = hn::And(hn::And(ge(a, vertical), ge(a, left)), gt(a, right));
            const auto verticalMax = hn::And(ge(a, above), gt(a, below));
            const auto edge = hn::And(hn::Ne(strong, zero), hn::Or(horizontalMax, verticalMax));
            if (hn::AllFalse(d8, edge)) {
                return;
            }
            hn::StoreMaskBits(d8, edge, bits);
            // The lanes' bits, 64 at a time, lowest (leftmost column) first.
            for (size_t first = 0; first < n; first += 64) {
                uint64_t lanes;
                std::memcpy(&lanes, bits + first / 8, sizeof lanes);
                if (n - first < 64) {
                    lanes &= (uint64_t{1} << (n - first)) - 1;
                }
                while (lanes != 0) {
                    visit(r.cur, x + first + static_cast<size_t>(__builtin_ctzll(lanes)));
                    lanes &= lanes - 1;
                }
            }
        };
        size_t x = 2;
        for (; n >= 8 && x + n + 1 <= w; x += n) {
            step(x, 0);
        }
        // The last columns by one more step ending at column w - 2.
        if (n >= 8 && x + 1 < w && w >= n + 3) {
            step(w - 1 - n, x - (w - 1 - n));
            x = w - 1;
        }
        for (; x + 1 < w; ++x) {
            if (isEdge(r, x)) {
                visit(r.cur, x);
            }
        }
    }

    if (widthSum == 0) {
        return 0.0;
    }
    return static_cast<double>(static_cast<int32_t>(widthSum)) / static_cast<double>(static_cast<int32_t>(edgePixels));
}

}  // namespace

double BlurKernel(const Image* frame, uint64_t energy) { return blurFrame(frame, energy); }

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(BlurKernel);

double blur(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::blur(frame);
    }
    // With fewer than 3 rows or columns no pixel is an edge pixel.
    if (frame->w < 3 || frame->h < 3) {
        return 0.0;
    }
    return HWY_DYNAMIC_DISPATCH(BlurKernel)(frame, frameSums(frame, scratch).horizontal);
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
