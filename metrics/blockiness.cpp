#include "metrics/blockiness.h"

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

double blockToMOS(double value) {
    const double score = (value * 17.86 + (-10.38)) * 0.5;
    if (score > 0) {
        return score;
    }
    return 0.0;
}
