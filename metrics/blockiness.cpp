#include "metrics/blockiness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

inline int32_t absDiff(uint8_t a, uint8_t b) {
    const int32_t d = int32_t{a} - int32_t{b};
    return d < 0 ? -d : d;
}

// Adds a running sum, sign-extended, to a 64-bit unsigned total.
inline uint64_t addToTotal(uint64_t total, int32_t running) {
    return total + static_cast<uint64_t>(static_cast<int64_t>(running));
}

}  // namespace

double blockiness(const Image* frame) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t block = static_cast<uint32_t>(BLOCKSIZE);
    const uint8_t* p = frame->data;

    uint64_t insideTotal = 0;
    uint64_t acrossTotal = 0;

    // Horizontal borders, between block rows. The running sums carry on
    // from one border row to the next, so every border enters the totals
    // once for itself and once for each later border. A frame lower than
    // one block has no border row at all.
    int32_t inside = 0;
    int32_t across = 0;
    if (h >= block) {
        for (uint32_t b = block; b <= h - block; b += block) {
            const uint8_t* above2 = p + (b - 2) * w;
            const uint8_t* above1 = p + (b - 1) * w;
            const uint8_t* below = p + b * w;
            for (uint32_t c = 0; c < w; ++c) {
                inside = wrapAdd(inside, absDiff(above1[c], above2[c]));
                across = wrapAdd(across, absDiff(above1[c], below[c]));
            }
            insideTotal = addToTotal(insideTotal, inside);
            acrossTotal = addToTotal(acrossTotal, across);
        }
    }

    // Vertical borders, between block columns, with fresh running sums that
    // again carry on from one border column to the next.
    inside = 0;
    across = 0;
    if (w >= block) {
        for (uint32_t b = block; b <= w - block; b += block) {
            for (uint32_t r = 0; r < h; ++r) {
                const uint8_t* row = p + r * w;
                inside = wrapAdd(inside, absDiff(row[b - 1], row[b - 2]));
                across = wrapAdd(across, absDiff(row[b - 1], row[b]));
            }
            insideTotal = addToTotal(insideTotal, inside);
            acrossTotal = addToTotal(acrossTotal, across);
        }
    }

    const double value = static_cast<double>(insideTotal) / static_cast<double>(acrossTotal);
    if (std::isnan(value)) {
        return 1.0;  // no step anywhere: neither inside nor across
    }
    return value;
}

std::vector<uint8_t> blockinessGrid(const Image* frame) {
    const uint64_t w = frame->w, h = frame->h, block = BLOCKSIZE;
    const uint64_t across = (w + block - 1) / block, down = (h + block - 1) / block;
    const uint64_t rowBorders = h >= 2 * block ? h / block - 1 : 0;
    const uint64_t columnBorders = w >= 2 * block ? w / block - 1 : 0;
    std::vector<uint8_t> grid(rowBorders * across + columnBorders * down, 0);
    const uint8_t* p = frame->data;
    // sample(i): the samples at the border's two sides and just inside it.
    const auto shows = [](uint64_t count, const auto& sample) {
        int64_t inside = 0, step = 0;
        for (uint64_t i = 0; i < count; ++i) {
            const auto [before2, before1, after] = sample(i);
            inside += absDiff(before1, before2);
            step += absDiff(before1, after);
        }
        return step > 2 * inside && step >= 2 * static_cast<int64_t>(count);
    };
    for (uint64_t k = 0; k < rowBorders; ++k) {
        const uint64_t b = (k + 1) * block;
        for (uint64_t j = 0; j < across; ++j) {
            grid[k * across + j] = shows(std::min(block, w - j * block), [&](uint64_t i) {
                const uint64_t c = j * block + i;
                return std::array<uint8_t, 3>{p[(b - 2) * w + c], p[(b - 1) * w + c], p[b * w + c]};
            });
        }
    }
    for (uint64_t k = 0; k < columnBorders; ++k) {
        const uint64_t b = (k + 1) * block;
        for (uint64_t j = 0; j < down; ++j) {
            grid[rowBorders * across + k * down + j] = shows(std::min(block, h - j * block), [&](uint64_t i) {
                const uint8_t* row = p + (j * block + i) * w;
                return std::array<uint8_t, 3>{row[b - 2], row[b - 1], row[b]};
            });
        }
    }
    return grid;
}

double blockToMOS(double value) {
    const double score = (value * 17.86 + (-10.38)) * 0.5;
    if (score > 0) {
        return score;
    }
    return 0.0;
}
