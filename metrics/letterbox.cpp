#include "metrics/letterbox.h"

bool checkLetterBar(const uint8_t* samples, uint32_t w, uint32_t h, uint32_t i) {
    const uint8_t* upper = samples + i * w;
    const uint8_t* lower = samples + (h - 1 - i) * w;
    // Each row is compared sample by sample with its right-hand neighbour,
    // the upper row before the lower one; the two rows may differ in level.
    for (uint32_t x = 0; x + 1 < w; ++x) {
        if (upper[x] != upper[x + 1]) {
            return false;
        }
        if (lower[x] != lower[x + 1]) {
            return false;
        }
    }
    return true;
}

double letterbox(const Image* frame) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t h2 = h >> 1;
    if (w == 0 && h2 != 0) {
        return 0.0;  // rows without samples form no bar
    }
    double count = 0.0;
    // Only the leading row pairs count: the first non-uniform pair ends the
    // search, so the shorter of the top and bottom bars decides.
    for (uint32_t i = 0; i < h2; ++i) {
        if (!checkLetterBar(frame->data, w, h, i)) {
            break;
        }
        count += 1.0;
    }
    return count / static_cast<double>(h2);
}
