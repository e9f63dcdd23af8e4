#include "metrics/interlace.h"

#include "metrics/slice.h"

namespace {

// A column zig-zags when its four samples go down, up, down or up, down, up,
// every step strict.
inline bool zigZags(uint8_t s0, uint8_t s1, uint8_t s2, uint8_t s3) {
    return (s0 > s1 && s2 > s1 && s2 > s3) || (s0 < s1 && s2 < s1 && s2 < s3);
}

}  // namespace

double interlace(const Image* frame) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t side = static_cast<uint32_t>(INTERLACE_BLOCKSIZE);
    const uint8_t* p = frame->data;
    double combed = 0.0;
    // Only whole blocks are tested: a block that would reach past the right
    // or bottom edge is skipped, matching the divisor below.
    for (uint32_t y = 0; h - y >= side; y += side) {
        for (uint32_t x = 0; w - x >= side; x += side) {
            bool allColumns = true;
            for (uint32_t c = x; c < x + side && allColumns; ++c) {
                allColumns = zigZags(p[y * w + c], p[(y + 1) * w + c], p[(y + 2) * w + c],
                                     p[(y + 3) * w + c]);
            }
            if (allColumns) {
                combed += 1.0;
            }
        }
    }
    const uint32_t blocks = (h / side) * (w / side);
    return combed / static_cast<double>(blocks);
}

int compare(const void* a, const void* b) { return compare_Double_asc(a, b); }
