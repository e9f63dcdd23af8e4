#include "metrics/exposure.h"

#include <cstdint>

double exposure(const Image* frame) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t b = static_cast<uint32_t>(BLOCKSIZE);
    const uint8_t* p = frame->data;

    ExposureExtremes extremes;

    // The walk stops short of w - b and h - b, so the last whole column and
    // the last whole row of blocks are never visited. A frame narrower or
    // lower than one block has no block to visit.
    if (w >= b && h >= b) {
        for (uint32_t x0 = 0; x0 < w - b; x0 += b) {
            for (uint32_t y0 = 0; y0 < h - b; y0 += b) {
                double sum = 0.0;
                for (uint32_t c = x0; c < x0 + b; ++c) {
                    for (uint32_t r = y0; r < y0 + b; ++r) {
                        sum += p[r * w + c];
                    }
                }
                extremes.add(sum);
            }
        }
    }
    return extremes.finish();
}

ExposureExtremes::ExposureExtremes() {
    for (int32_t q = 0; q < nBlSum; ++q) {
        darkest[q] = static_cast<double>(BLOCKSIZE * BLOCKSIZE * 255);
        brightest[q] = 0.0;
    }
}

double ExposureExtremes::finish() const {
    double total = 0.0;
    for (int32_t q = 0; q < nBlSum; ++q) {
        total += darkest[q];
    }
    for (int32_t q = 0; q < nBlSum; ++q) {
        total += brightest[q];
    }
    return total / static_cast<double>(BLOCKSIZE * BLOCKSIZE * 8);
}
