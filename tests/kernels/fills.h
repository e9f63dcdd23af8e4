// Adversarial frame contents and sizes for comparing the fast kernels with
// the literal indicators, and a loop over the instruction-set levels.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "kernels/dispatch.h"
#include "tools/definitions.h"

namespace kernel_testing {

enum class Fill {
    zeros,        // every sample 0
    full,         // every sample 255
    checker01,    // 0/1 checkerboard
    checker254,   // 254/255 checkerboard
    rampH,        // x mod 256
    rampV,        // y mod 256
    rampDiag,     // (x + 3y) mod 256
    flat8,        // flat 8x8 blocks of random levels
    flat16,       // flat 16x16 blocks of random levels
    stripesV,     // columns alternating on the 8-sample block grid (0 / 255 halves)
    columnPairs,  // columns alternating in pairs (0 0 255 255): the largest horizontal Sobel step everywhere
    sobelPeak,    // rows cycling black, column pairs, white: the largest Sobel energy, on every third row
    stripesH,     // rows alternating on the 8-sample block grid
    combed,       // lines alternating 0 / 255 (interlace-like)
    blockStep,    // zeros but one 8x8 block of 4s: block means exactly 4.0 apart
    spike,        // zeros but one sample of 255: block means 255/64 apart
    random,       // independent random samples
};

std::vector<Fill> allFills();
std::string_view fillName(Fill fill);

// Writes fill into every sample of image; seed drives the random fills.
void fillImage(Image* image, Fill fill, uint64_t seed);
// A new w x h image holding fill.
OwnedImage<Image> filledImage(uint64_t w, uint64_t h, Fill fill, uint64_t seed);

// Frame sizes to sweep: every size from 0 x 0 to 40 x 40 (a subsample of
// them in sanitizer builds), then odd large ones up to full HD and rows
// over 8192 samples wide.
std::vector<std::pair<uint64_t, uint64_t>> frameSizes();

// True in the sanitizer builds, where sweeps are thinned out.
bool sanitized();

// Calls fn once per instruction-set level this processor runs, with that
// level active; the best level is active again afterwards.
void forEachSimdLevel(const std::function<void(nrvq::kernels::SimdLevel)>& fn);

}  // namespace kernel_testing
