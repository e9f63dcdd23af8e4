#include "metrics/pillarbox.h"

bool checkPillarBar(const uint8_t* samples, uint32_t w, uint32_t h, uint32_t j) {
    const uint32_t h2 = h >> 1;
    if (h2 == 0) {
        return true;
    }
    // The upper h/2 and lower h/2 rows are examined (the middle row of an odd
    // height is not); column j is compared with column j + 1 in each.
    for (uint32_t k = 0; k < h2; ++k) {
        const uint8_t* upper = samples + k * w;
        const uint8_t* lower = samples + (h - 1 - k) * w;
        if (upper[j] != upper[j + 1]) {
            return false;
        }
        if (lower[j] != lower[j + 1]) {
            return false;
        }
    }
    return true;
}

double pillarbox(const Image* frame) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t w2 = w >> 1;
    const uint32_t h2 = h >> 1;
    double count = 0.0;
    if (h2 == 0) {
        // Nothing to compare: every position passes.
        for (uint32_t j = 0; j < w2; ++j) {
            count += 1.0;
        }
    } else {
        // Only the left edge is searched; the first column that differs
        // from its right-hand neighbour ends the search.
        for (uint32_t j = 0; j < w2; ++j) {
            if (!checkPillarBar(frame->data, w, h, j)) {
                break;
            }
            count += 1.0;
        }
    }
    return count / static_cast<double>(w2);
}
