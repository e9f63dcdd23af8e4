// Fast block loss: the Roberts energy of the whole frame from the frame sums
// (kernels/frameSums.h), then the runs along the grid lines, with the Roberts energy of each
// grid sample computed where it is needed, several at a time: along the
// horizontal lines into bits whose runs are found with bit scans, down the
// vertical lines with run counters for several columns per vector; no
// working image. Within an analysis the joint walk over the frame
// (kernels/bands.h) collects the energies down the vertical lines, 16 bits
// each, while the rows are in the caches, and the runs are then counted
// over those instead of the frame's rows.
//
// Why this gives the literal value bit for bit: the energy sum is an integer
// sum (any order gives it); every energy is an integer of 0 ... 2 * 255^2,
// so "energy > threshold" in double is "energy >= floor(threshold) + 1"; and
// the runs are counted per 256-sample segment of a grid row and per column of
// a 256-row region row exactly as the literal counters do. An energy
// saturated to 65 535 compares with a cut of at most 65 535 as the energy
// itself does; above that cut the frame's rows serve.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "kernels/bands.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "kernels/slots.h"
#include "metrics/blockLoss.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/blockLoss.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace nrvq::kernels::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

constexpr size_t kGrid = 16;
constexpr size_t kRegion = 256;
constexpr uint32_t kMinRun = 12;

// Roberts energy of sample t of row cur, with up the row above (t >= 1).
inline uint32_t robertsEnergy(const uint8_t* up, const uint8_t* cur, size_t t) {
    const int32_t d1 = int32_t{up[t - 1]} - int32_t{cur[t]};
    const int32_t d2 = int32_t{up[t]} - int32_t{cur[t - 1]};
    return static_cast<uint32_t>(d1 * d1 + d2 * d2);
}

// The first column from `from` on (at most kRegion) whose bit in the
// segment's bits is `value`.
template <bool value>
inline size_t firstWith(const uint64_t* bits, size_t from) {
    constexpr size_t kWords = kRegion / 64;
    size_t word = from >> 6;
    if (word >= kWords) {
        return kRegion;
    }
    uint64_t m = (value ? bits[word] : ~bits[word]) & (~uint64_t{0} << (from & 63));
    while (m == 0) {
        if (++word == kWords) {
            return kRegion;
        }
        m = value ? bits[word] : ~bits[word];
    }
    const size_t at = (word << 6) + static_cast<size_t>(__builtin_ctzll(m));
    return at < kRegion ? at : kRegion;
}

// Runs of at least kMinRun strong samples in columns begin ... begin + 255 of
// one grid row (column 0 has energy 0).
uint32_t segmentRuns(const uint8_t* up, const uint8_t* cur, size_t begin, uint32_t cut) {
#if HWY_TARGET == HWY_SCALAR
    uint32_t runs = 0;
    uint32_t run = 0;
    for (size_t t = begin; t < begin + kRegion; ++t) {
        if (t != 0 && robertsEnergy(up, cur, t) >= cut) {
            if (++run == kMinRun) {
                ++runs;
            }
        } else {
            run = 0;
        }
    }
    return runs;
#else
    // The strong columns as bits, computed several at a time, then the runs
    // of set bits found with bit scans: strong columns are rare. Column
    // begin - 1 is read for begin = 0 too (the grid row has the frame's rows
    // before it), and its bit cleared.
    const hn::ScalableTag<int32_t> d32;
    const hn::Rebind<uint8_t, decltype(d32)> d8;
    const size_t n = hn::Lanes(d32);
    const auto below = hn::Set(d32, static_cast<int32_t>(cut - 1));
    uint64_t bits[kRegion / 64] = {};
    for (size_t i = 0; i < kRegion; i += n) {
        const size_t t = begin + i;
        const auto d1 = hn::Sub(hn::PromoteTo(d32, hn::LoadU(d8, up + t - 1)), hn::PromoteTo(d32, hn::LoadU(d8, cur + t)));
        const auto d2 = hn::Sub(hn::PromoteTo(d32, hn::LoadU(d8, up + t)), hn::PromoteTo(d32, hn::LoadU(d8, cur + t - 1)));
        const auto strong = hn::Gt(hn::Add(hn::Mul(d1, d1), hn::Mul(d2, d2)), below);
        uint8_t mask[8] = {};
        hn::StoreMaskBits(d32, strong, mask);
        const uint64_t lanes = uint64_t{mask[0]} | (uint64_t{mask[1]} << 8);
        bits[i >> 6] |= lanes << (i & 63);
    }
    if (begin == 0) {
        bits[0] &= ~uint64_t{1};
    }
    uint32_t runs = 0;
    for (size_t at = firstWith<true>(bits, 0); at < kRegion;) {
        const size_t end = firstWith<false>(bits, at);
        if (end - at >= kMinRun) {
            ++runs;
        }
        at = firstWith<true>(bits, end);
    }
    return runs;
#endif
}

#if HWY_TARGET != HWY_SCALAR
// The n 32-bit words at p, p + 16, ..., p + 16 (n - 1), for the n lanes of
// d32: four contiguous vectors hold them at every fourth lane, which two
// rounds of taking the even lanes of a pair bring together in order. Reads
// p[0 ... 16 n - 1].
template <class D>
HWY_INLINE hn::Vec<D> GridWords(D d32, const uint8_t* p) {
    const hn::Repartition<uint8_t, D> d8;
    const size_t bytes = hn::Lanes(d8);
    const auto a = hn::BitCast(d32, hn::LoadU(d8, p));
    const auto b = hn::BitCast(d32, hn::LoadU(d8, p + bytes));
    const auto c = hn::BitCast(d32, hn::LoadU(d8, p + 2 * bytes));
    const auto e = hn::BitCast(d32, hn::LoadU(d8, p + 3 * bytes));
    return hn::ConcatEven(d32, hn::ConcatEven(d32, e, c), hn::ConcatEven(d32, b, a));
}
#endif

// One row of the vertical grid lines: the row at offset above + w against
// the row at offset above. The run of every grid column x >= 1 grows with a
// strong sample and restarts with a weak one; hits[x] counts the runs that
// reach kMinRun. Several columns at a time: the four bytes from column
// 16 x - 1 on of each row (the low two are columns 16 x - 1 and 16 x).
void gridColumnRuns(const uint8_t* p, size_t above, size_t w, size_t lineCols, uint32_t cut, int32_t* runs,
                    int32_t* hits) {
    size_t x = 1;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<int32_t> d32;
    const size_t n = hn::Lanes(d32);
    const auto byteMask = hn::Set(d32, 0xFF);
    const auto below = hn::Set(d32, static_cast<int32_t>(cut - 1));
    const auto one = hn::Set(d32, 1);
    const auto counting = hn::Set(d32, static_cast<int32_t>(kMinRun));
    for (; x + n <= lineCols; x += n) {
        const uint8_t* at = p + above + x * kGrid - 1;
        const auto upWord = GridWords(d32, at);
        const auto curWord = GridWords(d32, at + w);
        const auto upLeft = hn::And(upWord, byteMask);
        const auto upHere = hn::And(hn::ShiftRight<8>(upWord), byteMask);
        const auto curLeft = hn::And(curWord, byteMask);
        const auto curHere = hn::And(hn::ShiftRight<8>(curWord), byteMask);
        const auto d1 = hn::Sub(upLeft, curHere);
        const auto d2 = hn::Sub(upHere, curLeft);
        const auto strong = hn::Gt(hn::Add(hn::Mul(d1, d1), hn::Mul(d2, d2)), below);
        const auto run = hn::IfThenElseZero(strong, hn::Add(hn::LoadU(d32, runs + x), one));
        hn::StoreU(run, d32, runs + x);
        hn::StoreU(hn::Add(hn::LoadU(d32, hits + x), hn::IfThenElseZero(hn::Eq(run, counting), one)), d32, hits + x);
    }
#endif
    const uint8_t* up = p + above;
    const uint8_t* cur = up + w;
    for (; x < lineCols; ++x) {
        if (robertsEnergy(up, cur, x * kGrid) >= cut) {
            if (++runs[x] == static_cast<int32_t>(kMinRun)) {
                ++hits[x];
            }
        } else {
            runs[x] = 0;
        }
    }
}

// The Roberts energies of grid columns 1 ... lineCols - 1 (at samples
// 16 x) of rows from ... to - 1 (from >= 1), saturated to 16 bits, into
// energies, lineCols per row.
void ColumnEnergies(const uint8_t* p, size_t w, size_t lineCols, size_t from, size_t to, uint16_t* energies) {
    size_t x = 1;
#if HWY_TARGET != HWY_SCALAR
    // Several columns down the rows, each row's samples taken once.
    const hn::ScalableTag<int32_t> d32;
    const hn::Rebind<uint16_t, decltype(d32)> d16;
    const size_t n = hn::Lanes(d32);
    const auto byteMask = hn::Set(d32, 0xFF);
    for (; x + n <= lineCols; x += n) {
        const uint8_t* at = p + x * kGrid - 1;
        auto word = GridWords(d32, at + (from - 1) * w);
        auto upLeft = hn::And(word, byteMask);
        auto upHere = hn::And(hn::ShiftRight<8>(word), byteMask);
        for (size_t s = from; s < to; ++s) {
            word = GridWords(d32, at + s * w);
            const auto left = hn::And(word, byteMask);
            const auto here = hn::And(hn::ShiftRight<8>(word), byteMask);
            const auto d1 = hn::Sub(upLeft, here);
            const auto d2 = hn::Sub(upHere, left);
            hn::StoreU(hn::DemoteTo(d16, hn::Add(hn::Mul(d1, d1), hn::Mul(d2, d2))), d16, energies + s * lineCols + x);
            upLeft = left;
            upHere = here;
        }
    }
#endif
    for (size_t s = from; s < to; ++s) {
        const uint8_t* up = p + (s - 1) * w;
        for (size_t c = x; c < lineCols; ++c) {
            const uint32_t e = robertsEnergy(up, up + w, c * kGrid);
            energies[s * lineCols + c] = static_cast<uint16_t>(e < 0xFFFF ? e : 0xFFFF);
        }
    }
}

// gridColumnRuns over one row of collected energies (cut <= 65535).
void collectedColumnRuns(const uint16_t* energies, size_t lineCols, uint32_t cut, uint16_t* runs, uint16_t* hits) {
    size_t x = 1;
    const hn::ScalableTag<uint16_t> d16;
    const size_t n = hn::Lanes(d16);
    const auto cutVec = hn::Set(d16, static_cast<uint16_t>(cut));
    const auto zero = hn::Zero(d16);
    const auto one = hn::Set(d16, 1);
    const auto counting = hn::Set(d16, static_cast<uint16_t>(kMinRun));
    for (; x + n <= lineCols; x += n) {
        // energy >= cut exactly when cut - energy saturates to 0.
        const auto strong = hn::Eq(hn::SaturatedSub(cutVec, hn::LoadU(d16, energies + x)), zero);
        const auto run = hn::IfThenElseZero(strong, hn::Add(hn::LoadU(d16, runs + x), one));
        hn::StoreU(run, d16, runs + x);
        hn::StoreU(hn::Add(hn::LoadU(d16, hits + x), hn::IfThenElseZero(hn::Eq(run, counting), one)), d16, hits + x);
    }
    for (; x < lineCols; ++x) {
        if (energies[x] >= cut) {
            if (++runs[x] == kMinRun) {
                ++hits[x];
            }
        } else {
            runs[x] = 0;
        }
    }
}

double blockLossFrame(const Image* frame, Scratch& scratch, const uint16_t* energies) {
    const size_t w = frame->w;
    const size_t h = frame->h;
    const uint8_t* p = frame->data;
    if (w < kRegion || h < kRegion) {
        return -1.0;
    }
    const size_t regionCols = w / kRegion;
    const size_t regionRows = h / kRegion;
    const size_t regions = regionCols * regionRows;

    const uint64_t energy = frameSums(frame, scratch).roberts;
    // Six times the mean Roberts energy of the whole frame.
    const double threshold = static_cast<double>(static_cast<int64_t>(energy)) /
                             static_cast<double>(static_cast<uint32_t>(w * h)) * 6.0;
    // No energy exceeds 2 * 255^2: above that, no run and no score.
    if (!(threshold < 131072.0)) {
        return 0.0;
    }
    const uint32_t cut = static_cast<uint32_t>(std::floor(threshold)) + 1;

    int32_t* rowRuns = scratch.get<int32_t>(slot(KernelSlots::blockLoss, 0), regions);
    int32_t* colRuns = scratch.get<int32_t>(slot(KernelSlots::blockLoss, 1), regions);
    const size_t lineCols = regionCols * (kRegion / kGrid);  // grid columns that count
    int32_t* columnRun = scratch.get<int32_t>(slot(KernelSlots::blockLoss, 2), lineCols);
    int32_t* columnHits = scratch.get<int32_t>(slot(KernelSlots::blockLoss, 3), lineCols);
    // The energies the joint walk collected serve while the cut fits their
    // 16 bits; run counts of at most 256 rows fit 16 bits too.
    const bool collected = energies != nullptr && cut <= 0xFFFF;
    uint16_t* shortRun = scratch.get<uint16_t>(slot(KernelSlots::blockLoss, 4), lineCols);
    uint16_t* shortHits = scratch.get<uint16_t>(slot(KernelSlots::blockLoss, 5), lineCols);

    for (size_t by = 0; by < regionRows; ++by) {
        // Along the horizontal grid lines 16 * gr of this region row (grid
        // row 0 has energy 0).
        for (size_t bx = 0; bx < regionCols; ++bx) {
            rowRuns[by * regionCols + bx] = 0;
            colRuns[by * regionCols + bx] = 0;
        }
        for (size_t gr = by * (kRegion / kGrid); gr < (by + 1) * (kRegion / kGrid); ++gr) {
            if (gr == 0) {
                continue;
            }
            const uint8_t* up = p + (gr * kGrid - 1) * w;
            const uint8_t* cur = up + w;
            for (size_t bx = 0; bx < regionCols; ++bx) {
                rowRuns[by * regionCols + bx] += static_cast<int32_t>(segmentRuns(up, cur, bx * kRegion, cut));
            }
        }
        // Down the vertical grid lines 16 * x; runs restart in every region
        // row, and grid column 0 (energy 0) never runs.
        int32_t* counts = colRuns + by * regionCols;
        if (collected) {
            for (size_t x = 0; x < lineCols; ++x) {
                shortRun[x] = 0;
                shortHits[x] = 0;
            }
            for (size_t s = by == 0 ? 1 : by * kRegion; s < (by + 1) * kRegion; ++s) {
                collectedColumnRuns(energies + s * lineCols, lineCols, cut, shortRun, shortHits);
            }
            for (size_t x = 1; x < lineCols; ++x) {
                counts[x / kGrid] += shortHits[x];
            }
            continue;
        }
        for (size_t x = 0; x < lineCols; ++x) {
            columnRun[x] = 0;
            columnHits[x] = 0;
        }
        for (size_t s = by * kRegion; s < (by + 1) * kRegion; ++s) {
            if (s != 0) {
                gridColumnRuns(p, (s - 1) * w, w, lineCols, cut, columnRun, columnHits);
            }
        }
        for (size_t x = 1; x < lineCols; ++x) {
            counts[x / kGrid] += columnHits[x];
        }
    }

    // A region scores only when it holds runs along both directions.
    int64_t total = 0;
    for (size_t i = 0; i < regions; ++i) {
        total += wrapMul(rowRuns[i], colRuns[i]);
    }
    return static_cast<double>(total) / static_cast<double>(static_cast<uint32_t>(regions));
}

}  // namespace

double BlockLossKernel(const Image* frame, Scratch& scratch, const uint16_t* energies) {
    return blockLossFrame(frame, scratch, energies);
}

void GridColumnEnergies(const uint8_t* p, size_t w, size_t lineCols, size_t from, size_t to, uint16_t* energies) {
    ColumnEnergies(p, w, lineCols, from, to, energies);
}

}  // namespace nrvq::kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace nrvq::kernels {

HWY_EXPORT(BlockLossKernel);
HWY_EXPORT(GridColumnEnergies);

namespace {

// Grid columns whose runs count: those of whole 256-sample regions.
size_t lineColumns(const Image* frame) { return frame->w / 256 * 16; }
// Rows whose energies count: those of whole 256-row regions.
size_t energyRows(const Image* frame) { return frame->h / 256 * 256; }

// Whether the grid energies in scratch were collected for the frame that
// last took them.
bool* collectedMark(Scratch& scratch) { return scratch.get<bool>(slot(KernelSlots::blockLoss, 6), 1); }

uint16_t* energyBuffer(const Image* frame, Scratch& scratch) {
    return scratch.get<uint16_t>(slot(KernelSlots::blockLoss, 7), energyRows(frame) * lineColumns(frame));
}

// The grid energies of frame when the joint walk collects them (see
// bands.h), else null.
const uint16_t* collectedEnergies(const Image* frame, Scratch& scratch) {
    if (!gridEnergiesApply(frame)) {
        return nullptr;
    }
    if (!scratch.holds(Scratch::Shared::gridEnergies, frame)) {
        *collectedMark(scratch) = false;
        walkJointly(frame, scratch, Scratch::Shared::gridEnergies);
    }
    return *collectedMark(scratch) ? energyBuffer(frame, scratch) : nullptr;
}

}  // namespace

bool gridEnergiesApply(const Image* frame) { return frame->w >= 256 && frame->h >= 256 && indexFits32(frame); }

uint16_t* gridEnergyBuffer(const Image* frame, Scratch& scratch) {
    *collectedMark(scratch) = true;
    return energyBuffer(frame, scratch);
}

void gridColumnEnergies(const Image* frame, size_t from, size_t to, uint16_t* energies) {
    const size_t first = from == 0 ? 1 : from;
    const size_t last = to < energyRows(frame) ? to : energyRows(frame);
    if (first < last) {
        HWY_DYNAMIC_DISPATCH(GridColumnEnergies)(frame->data, frame->w, lineColumns(frame), first, last, energies);
    }
}

double blockLoss(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::blockLoss(frame);
    }
    return HWY_DYNAMIC_DISPATCH(BlockLossKernel)(frame, scratch, collectedEnergies(frame, scratch));
}

}  // namespace nrvq::kernels
#endif  // HWY_ONCE
