// Fast noise: the frame's shared block sums and square sums, the deviation
// histogram in raster order, and the smoothing and residual
// deviations of the selected blocks computed for many blocks side by side;
// no working image.
//
// Why this gives the literal value bit for bit:
// - block sums and square sums are integer sums (any order), and each
//   block's floored and rounded deviation follows from integer comparisons
//   (see blockLevels), the floored one only where the selection asks;
// - the histogram mode depends on the order of the blocks (and on the 16-bit
//   counters wrapping): between wraps it follows from the counts and, for a
//   tie at the top, the order (see levelHistogram);
// - every smoothed sample is acc = sample * weight + acc from 0.0 in kernel
//   order, and every residual sum and square sum adds its 36 values in row
//   order from 0.0, as the literal does, one block per vector lane; the
//   kernel weights use the library exp.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/blockStats.h"
#include "kernels/kernels.h"
#include "kernels/slots.h"
#include "metrics/noise.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/noise.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

constexpr size_t kBlock = 8;
constexpr size_t kChunk = 64;  // selected blocks smoothed side by side

// Why the levels below are the literal's: with s a block's sum and q its
// square sum, N = 64 q - s^2 is an integer of 0 ... 66 585 600 (64 times the
// sum of squared distances from the mean, at most 64 * 64 * 255^2 / 4). The
// literal's double steps are exact up to the last two: s^2 / 64 and
// q - s^2 / 64 = N / 64 are exact (multiples of 1/64 below 2^21), so its
// deviation is sigma = fl(sqrt(fl(N / 4032))), with fl rounding to nearest,
// which like sqrt is monotonic. For a level c that is an integer or an
// integer plus one half, c^2 is a double, so sigma >= c when N >= 4032 c^2
// (then fl(N / 4032) >= c^2 and sqrt of it >= c). When N < 4032 c^2, N is
// at most 4032 c^2 - 1, so N / 4032 <= c^2 - 1/4032 and sqrt(N / 4032) <=
// c - 1 / (4032 * 2c) < c - 9e-7 for c <= 130; the two roundings move
// their results by less than 2^-52 relative (below 1e-11 here), so sigma
// < c. Hence sigma >= c exactly when N >= 4032 c^2, and
// - floor(sigma) = t exactly when 4032 t^2 <= N < 4032 (t + 1)^2;
// - round(sigma), half away from zero for sigma >= 0, is the largest k >= 1
//   with sigma >= k - 1/2 (a fraction of exactly one half rounds up), that
//   is with 4032 (k - 1/2)^2 = 4032 k (k - 1) + 1008 <= N, or 0 when there
//   is none; so for t >= 1 it is t exactly when
//   4032 t (t - 1) + 1008 <= N < 4032 t (t + 1) + 1008.
// Every product fits 32 bits: 4032 * 130^2 < 2^27.

// The rounded deviation of each of count blocks, at most 129, several
// blocks per vector: an estimate floor(sqrt(N / 4032) + 1/2) from float
// operations (relative error below 1e-6, so below 2e-4 at sigma <= 129) is
// off by at most one, which one comparison either way corrects.
void blockLevels(const int32_t* sums, const int32_t* squares, size_t count, uint8_t* rounded) {
    const hn::ScalableTag<int32_t> di;
    const hn::Rebind<float, decltype(di)> df;
    const hn::Rebind<uint8_t, decltype(di)> du8;
    const size_t n = hn::Lanes(di);
    const auto one = hn::Set(di, 1);
    const auto scale = hn::Set(di, 4032);
    const auto half = hn::Set(di, 1008);
    const auto inverse = hn::Set(df, 1.0f / 4032.0f);
    const auto store = [&](auto s, auto q, size_t at, size_t lanes) {
        const auto big = hn::Sub(hn::ShiftLeft<6>(q), hn::Mul(s, s));  // N
        const auto above = hn::Add(big, one);  // x <= N as N + 1 > x
        const auto estimate = hn::Add(hn::Sqrt(hn::Mul(hn::ConvertTo(df, big), inverse)), hn::Set(df, 0.5f));
        auto k = hn::ConvertTo(di, estimate);
        // k + 1 qualifies: 4032 (k + 1) k + 1008 <= N.
        k = hn::Add(k, hn::IfThenElseZero(hn::Gt(above, hn::Add(hn::Mul(scale, hn::Mul(k, hn::Add(k, one))), half)), one));
        // k does not: 4032 k (k - 1) + 1008 > N (from k = 0 to -1, then 0).
        k = hn::Sub(k, hn::IfThenElseZero(hn::Gt(hn::Add(hn::Mul(scale, hn::Mul(k, hn::Sub(k, one))), half), big), one));
        const auto near = hn::DemoteTo(du8, hn::Max(k, hn::Zero(di)));
        if (lanes == n) {
            hn::StoreU(near, du8, rounded + at);
        } else {
            HWY_ALIGN uint8_t lanesNear[hn::MaxLanes(du8)];
            hn::Store(near, du8, lanesNear);
            for (size_t i = 0; i < lanes; ++i) {
                rounded[at + i] = lanesNear[i];
            }
        }
    };
    size_t i = 0;
    for (; i + n <= count; i += n) {
        store(hn::LoadU(di, sums + i), hn::LoadU(di, squares + i), i, n);
    }
    if (i < count) {
        HWY_ALIGN int32_t s[hn::MaxLanes(di)] = {};
        HWY_ALIGN int32_t q[hn::MaxLanes(di)] = {};
        for (size_t k = i; k < count; ++k) {
            s[k - i] = sums[k];
            q[k - i] = squares[k];
        }
        store(hn::Load(di, s), hn::Load(di, q), i, count - i);
    }
}

// Transposes the 8 x 8 bytes of rows (byte k of word i, with byte 0 the
// lowest, is element i, k): halves, quarters, then single bytes trade
// places across the diagonal.
inline void transposeBytes(uint64_t* rows) {
    constexpr uint64_t kKeep[3] = {0x00000000FFFFFFFFull, 0x0000FFFF0000FFFFull, 0x00FF00FF00FF00FFull};
    for (size_t stage = 0; stage < 3; ++stage) {
        const size_t span = size_t{4} >> stage;
        for (size_t i = 0; i < 8; ++i) {
            if ((i & span) == 0) {
                const uint64_t t = ((rows[i] >> (8 * span)) ^ rows[i + span]) & kKeep[stage];
                rows[i + span] ^= t;
                rows[i] ^= t << (8 * span);
            }
        }
    }
}

// Adds to total, one after the other, the residual deviations of count
// blocks (count <= kChunk) whose top-left samples are at the given offsets of
// the frame.
void addChunkDeviations(const uint8_t* p, size_t stride, const uint64_t* origins, size_t count,
                        const double* weights, double* samples, double& total) {
    // samples[position * kChunk + j]: sample `position` (row-major in the
    // block) of block j, by way of the same layout in bytes.
    alignas(64) uint8_t bytes[kBlock * kBlock * kChunk];
    size_t j0 = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; j0 + 8 <= count; j0 += 8) {
            for (size_t r = 0; r < kBlock; ++r) {
                uint64_t rows[8];
                for (size_t k = 0; k < 8; ++k) {
                    std::memcpy(&rows[k], p + origins[j0 + k] + r * stride, 8);
                }
                transposeBytes(rows);
                for (size_t c = 0; c < kBlock; ++c) {
                    std::memcpy(bytes + (r * kBlock + c) * kChunk + j0, &rows[c], 8);
                }
            }
        }
    }
    for (size_t pos = 0; pos < kBlock * kBlock; ++pos) {
        const size_t offset = (pos / kBlock) * stride + pos % kBlock;
        for (size_t j = j0; j < count; ++j) {
            bytes[pos * kChunk + j] = p[origins[j] + offset];
        }
        for (size_t j = 0; j < count; ++j) {
            samples[pos * kChunk + j] = static_cast<double>(bytes[pos * kChunk + j]);
        }
    }
    double sums[kChunk];
    double squares[kChunk];
    double acc[kChunk];
    for (size_t j = 0; j < count; ++j) {
        sums[j] = 0.0;
        squares[j] = 0.0;
    }
    for (size_t y = 1; y + 1 < kBlock; ++y) {
        for (size_t x = 1; x + 1 < kBlock; ++x) {
            for (size_t j = 0; j < count; ++j) {
                acc[j] = 0.0;
            }
            for (size_t i = 0; i < 3; ++i) {
                for (size_t k = 0; k < 3; ++k) {
                    const double weight = weights[i * 3 + k];
                    const double* s = samples + ((y - 1 + i) * kBlock + (x - 1 + k)) * kChunk;
                    for (size_t j = 0; j < count; ++j) {
                        acc[j] = s[j] * weight + acc[j];
                    }
                }
            }
            const double* centre = samples + (y * kBlock + x) * kChunk;
            for (size_t j = 0; j < count; ++j) {
                const double v = centre[j] - acc[j];
                sums[j] = v + sums[j];
                squares[j] = v * v + squares[j];
            }
        }
    }
    for (size_t j = 0; j < count; ++j) {
        double t = sums[j] * sums[j];
        t = t / 36.0;
        double u = squares[j] - t;
        u = u / 35.0;
        total += std::sqrt(u);
    }
}

// Histogram bin of a rounded level: everything from the last bin up counts
// in the last bin.
inline uint32_t binOf(uint8_t level) { return level < HISTOGRAM_ENTRIES - 1 ? level : HISTOGRAM_ENTRIES - 1; }

// Adds to counts (HISTOGRAM_ENTRIES of them) the bins of the levels of
// blocks from ... to - 1, four interleaved histograms at a time.
void countBins(const uint8_t* rounded, size_t from, size_t to, uint32_t* counts) {
    uint32_t lanes[4][HISTOGRAM_ENTRIES] = {};
    size_t i = from;
    for (; i + 4 <= to; i += 4) {
        for (size_t k = 0; k < 4; ++k) {
            ++lanes[k][binOf(rounded[i + k])];
        }
    }
    for (; i < to; ++i) {
        ++lanes[0][binOf(rounded[i])];
    }
    for (int32_t bin = 0; bin < HISTOGRAM_ENTRIES; ++bin) {
        counts[bin] = lanes[0][bin] + lanes[1][bin] + lanes[2][bin] + lanes[3][bin];
    }
}

// The histogram NoiseHistogram builds from the levels of the blocks in
// raster order, taken in stretches in which no 16-bit counter can wrap:
// the counts of a stretch in any order, then the mode it leaves.
//
// Why that is the literal's mode: within a stretch without wrapping, let m
// be the mode at its start. The mode's count is then the highest count
// among m and the bins counted so far in the stretch (a bin counted takes
// the mode exactly when its count passes the mode's, and the mode's count
// only grows), and the mode is the one of them that reached that count
// first. So at the end of the stretch the mode is, among m and the bins the
// stretch counts, the one that first reached the highest final count: m
// itself when its count had it from the start, the only one with it, or
// else the one whose count reaches it first on a second walk over the
// stretch. (Before any wrap the mode's count is the highest of all; after
// the mode's own counter wraps to 0 it need not be, hence m.) Where a
// counter may wrap next, the blocks are added one at a time, as the
// literal adds them.
NoiseHistogram levelHistogram(const uint8_t* rounded, size_t blocks) {
    constexpr size_t kOneByOne = 4096;  // blocks added one at a time near a wrap
    NoiseHistogram histogram;
    uint16_t* counters = histogram.counters;
    uint32_t added[HISTOGRAM_ENTRIES];
    size_t i = 0;
    while (i < blocks) {
        uint32_t top = 0;
        for (int32_t bin = 0; bin < HISTOGRAM_ENTRIES; ++bin) {
            top = counters[bin] > top ? counters[bin] : top;
        }
        const size_t room = 0xFFFF - top;  // blocks that cannot wrap a counter
        if (room < kOneByOne) {
            const size_t end = blocks - i < kOneByOne ? blocks : i + kOneByOne;
            for (; i < end; ++i) {
                histogram.add(static_cast<int32_t>(binOf(rounded[i])));
            }
            continue;
        }
        const size_t end = blocks - i < room ? blocks : i + room;
        countBins(rounded, i, end, added);
        const int32_t first = histogram.mode;
        // The highest final count among the mode and the bins counted.
        uint32_t high = 0;
        uint32_t reaching = 0;  // bins that end at it
        int32_t reached = first;
        for (int32_t bin = 0; bin < HISTOGRAM_ENTRIES; ++bin) {
            if (bin != first && added[bin] == 0) {
                continue;
            }
            const uint32_t count = counters[bin] + added[bin];
            if (count > high) {
                high = count;
                reaching = 1;
                reached = bin;
            } else if (count == high) {
                ++reaching;
            }
        }
        if (reaching > 1 && !(added[first] == 0 && counters[first] == high)) {
            uint32_t seen[HISTOGRAM_ENTRIES];
            for (int32_t bin = 0; bin < HISTOGRAM_ENTRIES; ++bin) {
                seen[bin] = counters[bin];
            }
            for (size_t k = i;; ++k) {
                const uint32_t bin = binOf(rounded[k]);
                if (++seen[bin] == high) {
                    reached = static_cast<int32_t>(bin);
                    break;
                }
            }
        } else if (reaching > 1) {
            reached = first;
        }
        histogram.mode = reached;
        for (int32_t bin = 0; bin < HISTOGRAM_ENTRIES; ++bin) {
            counters[bin] = static_cast<uint16_t>(counters[bin] + added[bin]);
        }
        i = end;
    }
    return histogram;
}

double noiseFrame(const Image* frame, Scratch& scratch) {
    const size_t stride = frame->w;
    const size_t bw = static_cast<uint32_t>(frame->w >> 3);
    const size_t bh = static_cast<uint32_t>(frame->h >> 3);
    const size_t blocks = bw * bh;
    const uint8_t* p = frame->data;

    uint8_t* rounded = scratch.get<uint8_t>(slot(KernelSlots::noise, 0), blocks);
    const BlockStats stats = blockStats(frame, scratch);
    blockLevels(stats.sums, stats.squares, blocks, rounded);

    const auto [target, floorTarget] = levelHistogram(rounded, blocks).level();
    if (target == 0) {
        return 0.0;
    }

    const double t2 =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(target) * static_cast<uint32_t>(target)));
    const double centre = 1.0 / (t2 * 6.28);
    const double edge = centre * std::exp(-1.0 / (2.0 * t2));
    const double corner = std::exp(-2.0 / (2.0 * t2)) * centre;
    const double weights[9] = {corner, edge, corner, edge, centre, edge, corner, edge, corner};

    // The first MAX_CONTAINER_WIDTH qualifying blocks in raster order: those
    // whose N (see blockLevels) lies in [low, high), for the floored or the
    // rounded deviation at the target.
    const uint32_t t = static_cast<uint32_t>(target);
    const uint32_t low = floorTarget == target ? 4032 * t * t : 4032 * t * (t - 1) + 1008;
    const uint32_t high = floorTarget == target ? 4032 * (t + 1) * (t + 1) : 4032 * t * (t + 1) + 1008;
    uint64_t* origins = scratch.get<uint64_t>(slot(KernelSlots::noise, 2), MAX_CONTAINER_WIDTH);
    double* samples = scratch.get<double>(slot(KernelSlots::noise, 3), kBlock * kBlock * kChunk);
    size_t n = 0;
    for (size_t i = 0; i < blocks && n < static_cast<size_t>(MAX_CONTAINER_WIDTH); ++i) {
        const uint32_t big = (static_cast<uint32_t>(stats.squares[i]) << 6) -
                             static_cast<uint32_t>(stats.sums[i]) * static_cast<uint32_t>(stats.sums[i]);
        if (big - low < high - low) {
            origins[n++] = (i / bw) * kBlock * stride + (i % bw) * kBlock;
        }
    }

    double total = 0.0;
    for (size_t first = 0; first < n; first += kChunk) {
        const size_t count = n - first < kChunk ? n - first : kChunk;
        addChunkDeviations(p, stride, origins + first, count, weights, samples, total);
    }
    return total / static_cast<double>(n);
}

}  // namespace

double NoiseKernel(const Image* frame, Scratch& scratch) { return noiseFrame(frame, scratch); }

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(NoiseKernel);

double noise(const Image* frame, Scratch& scratch) { return HWY_DYNAMIC_DISPATCH(NoiseKernel)(frame, scratch); }

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
