// Block loss, blur, noise and slice kernels against their literal
// indicators on frames built to reach paths the generic fills miss: strong
// edges on the 16-sample grid, ramps of edge widths, bands whose ratios are
// not-a-number among ordinary ones (where qsort's order decides), and more
// than 65 535 noise blocks (the 16-bit histogram counters wrap), runs one
// sample short of counting and just long enough, block deviations of exactly k and k + 1/2, an
// edge next to the first column, and a block loss threshold just below the edges' energy.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernels/fills.h"
#include "kernels/kernels.h"
#include "metrics/blockLoss.h"
#include "metrics/blur.h"
#include "metrics/noise.h"
#include "metrics/slice.h"

namespace {

uint64_t bits(double v) {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

using Pattern = std::function<uint8_t(uint64_t y, uint64_t x, std::mt19937_64& random)>;

struct Case {
    const char* name;
    Pattern pattern;
};

const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        // Bright rectangles with grid-aligned and unaligned sides, slightly noisy.
        {"squares", [](uint64_t y, uint64_t x, std::mt19937_64& r) {
             const bool inside = y % 64 >= 16 && y % 64 < 48 && x % 96 >= 16 && x % 96 < 70;
             return static_cast<uint8_t>((inside ? 230 : 20) + r() % 3);
         }},
        // Slanted ramps 1 ... 5 samples wide, rising and falling, with a
        // flipped low bit here and there.
        {"edges", [](uint64_t y, uint64_t x, std::mt19937_64& r) {
             const uint64_t k = (x + y / 3) % 40;
             const uint64_t width = 1 + (y / 7) % 5;
             const int v = k < 18 ? 10 : k < 18 + width ? 10 + static_cast<int>((k - 17) * 240 / width) : 250;
             return static_cast<uint8_t>((x / 40) % 2 ? 260 - v : v) ^ static_cast<uint8_t>(r() % 5 == 0);
         }},
        // Bands repeating vertically, horizontally, both, or neither.
        {"bandMix", [](uint64_t y, uint64_t x, std::mt19937_64& r) {
             switch ((y / 16) % 4) {
                 case 0: return static_cast<uint8_t>(x * 7);
                 case 1: return static_cast<uint8_t>(y * 5 + (x % 16) * 11);
                 case 2: return static_cast<uint8_t>(3);
                 default: return static_cast<uint8_t>(r());
             }
         }},
        // Every third band flat, the others matching in neither direction.
        {"bandNaN", [](uint64_t y, uint64_t x, std::mt19937_64&) {
             return (y / 16) % 3 == 1 ? uint8_t{9} : static_cast<uint8_t>(x * 3 + y * 17 + (y / 16) * 101);
         }},
        // 10 x 10 and 11 x 11 squares on the 16-sample grid, in turn: each
        // edge is a run of 11 strong samples, one short of counting, or of
        // 12, the shortest that counts.
        {"shortRuns", [](uint64_t y, uint64_t x, std::mt19937_64&) {
             const uint64_t end = 26 + (x / 32 + y / 32) % 2;
             return uint8_t{y % 32 >= 16 && y % 32 < end && x % 32 >= 16 && x % 32 < end ? uint8_t{230} : uint8_t{20}};
         }},
        // 8 x 8 blocks of 28 samples d and 36 zeros, whose deviation is
        // exactly d / 2 (0.5, 1, 1.5 and 3, halves rounded up),
        // among blocks of small noise.
        {"halfSigma", [](uint64_t y, uint64_t x, std::mt19937_64& r) {
             if ((x / 8 + y / 8) % 3 == 0) {
                 return static_cast<uint8_t>(r() % 4);
             }
             const uint8_t ds[] = {1, 2, 1, 3, 1, 6};
             const uint8_t d = ds[(x / 24 + y / 8) % 6];
             return (y % 8) * 8 + x % 8 < 28 ? d : uint8_t{0};
         }},
        // Three in five blocks of deviation exactly 0.5, the others flat:
        // the level is 0.6, rounded to 1 (floor 0), and the blocks at 0.5
        // are those measured.
        {"roundedHalf", [](uint64_t y, uint64_t x, std::mt19937_64&) {
             return (x / 8 + y / 8) % 5 < 3 && (y % 8) * 8 + x % 8 < 28 ? uint8_t{1} : uint8_t{0};
         }},
        // Equal rows rising by 100, 60 and 40 at columns 1 to 3, then
        // falling at column 10: column 2 is no horizontal maximum.
        {"leftStep", [](uint64_t, uint64_t x, std::mt19937_64&) {
             const uint8_t levels[] = {0, 100, 160, 200, 200, 200, 200, 200, 200, 200};
             return x < 10 ? levels[x] : uint8_t{0};
         }},
        // 8 x 8 blocks of graded noise over a coarse pattern.
        {"noisyBlocks", [](uint64_t y, uint64_t x, std::mt19937_64& r) {
             return static_cast<uint8_t>(((x / 8) * 13 + (y / 8) * 29) % 200 + r() % (1 + (x / 8 + y / 8) % 9));
         }},
    };
    return all;
}

TEST(IndicatorFrames, CraftedFramesMatchTheLiteralBitForBit) {
    const std::pair<uint64_t, uint64_t> sizes[] = {{17, 48}, {64, 48}, {255, 300}, {257, 263}, {512, 513}, {777, 531}};
    nrvq::Scratch scratch;
    uint64_t seed = 0;
    for (const auto& [w, h] : sizes) {
        for (const Case& c : cases()) {
            std::mt19937_64 random(++seed);
            auto frame = kernel_testing::filledImage(w, h, kernel_testing::Fill::zeros, 0);
            for (uint64_t y = 0; y < h; ++y) {
                for (uint64_t x = 0; x < w; ++x) {
                    frame->data[y * w + x] = c.pattern(y, x, random);
                }
            }
            const uint64_t expected[] = {bits(blockLoss(frame.get())), bits(blur(frame.get())),
                                         bits(noise(frame.get())), bits(slice(frame.get()))};
            // Each kernel on its own, then within an analysis, whose second
            // frame takes the joint walk over the frame.
            kernel_testing::forEachSimdLevel([&](nrvq::kernels::SimdLevel level) {
                nrvq::Scratch run;
                for (nrvq::Scratch* in : {&scratch, &run, &run}) {
                    if (in == &run) {
                        run.beginFrame();
                    }
                    const std::string at = std::string(c.name) + " " + std::to_string(w) + " x " +
                                           std::to_string(h) + " at " +
                                           std::string(nrvq::kernels::simdLevelName(level)) + ", frame " +
                                           std::to_string(in->frameNumber());
                    EXPECT_EQ(bits(nrvq::kernels::blockLoss(frame.get(), *in)), expected[0]) << "blockLoss, " << at;
                    EXPECT_EQ(bits(nrvq::kernels::blur(frame.get(), *in)), expected[1]) << "blur, " << at;
                    EXPECT_EQ(bits(nrvq::kernels::noise(frame.get(), *in)), expected[2]) << "noise, " << at;
                    EXPECT_EQ(bits(nrvq::kernels::slice(frame.get(), *in)), expected[3]) << "slice, " << at;
                }
            });
        }
    }
}

// Block loss's threshold, six times the mean Roberts energy, just below 2
// (21 845 over 256 x 256 samples, from a few lone samples): the edges of a
// 13 x 13 square of ones on the grid, twelve samples of energy 2 between two
// of energy 1, are runs, as they would not be under a threshold of 2.
TEST(IndicatorFrames, BlockLossThresholdJustBelowTheEdgeEnergy) {
    auto frame = kernel_testing::filledImage(256, 256, kernel_testing::Fill::zeros, 0);
    for (uint64_t y = 16; y < 29; ++y) {
        std::memset(frame->data + y * 256 + 16, 1, 13);
    }
    frame->data[0] = 9;
    frame->data[100 * 256 + 100] = 54;
    frame->data[100 * 256 + 132] = 50;
    ASSERT_EQ(blockLoss(frame.get()), 1.0);
    nrvq::Scratch scratch;
    kernel_testing::forEachSimdLevel([&](nrvq::kernels::SimdLevel level) {
        EXPECT_EQ(nrvq::kernels::blockLoss(frame.get(), scratch), 1.0) << nrvq::kernels::simdLevelName(level);
    });
}

// Frames of more than 65 535 blocks (2048 samples wide), whose block
// levels come in runs in raster order, the last run to the end: the 16-bit
// counter of level 0 wraps, and the mode moves on or stays among the levels
// counted after it. Level L blocks hold 28 samples 2 L and 36 zeros
// (deviation exactly L).
TEST(IndicatorFrames, NoiseHistogramCountersWrap) {
    struct Run {
        uint32_t blocks;
        uint8_t level;
    };
    const std::vector<std::vector<Run>> cases = {
        {{65536, 0}, {256, 1}},
        // Level 5 keeps its 20 000 while level 1 leads with fewer.
        {{20000, 5}, {65536, 0}, {15000, 1}},
        // Levels 1 and 4 tie at 5 000 after the wrap: 1 reached it first.
        {{20000, 6}, {70536, 1}, {5000, 4}, {100, 2}},
    };
    nrvq::Scratch scratch;
    for (size_t c = 0; c < cases.size(); ++c) {
        uint64_t blocks = 0;
        for (const Run& run : cases[c]) {
            blocks += run.blocks;
        }
        const uint64_t w = 2048;
        const uint64_t h = (blocks + 255) / 256 * 8;
        auto frame = kernel_testing::filledImage(w, h, kernel_testing::Fill::zeros, 0);
        uint64_t block = 0;
        for (size_t r = 0; r < cases[c].size(); ++r) {
            const uint64_t end = r + 1 == cases[c].size() ? w * h / 64 : block + cases[c][r].blocks;
            for (; block < end; ++block) {
                for (uint64_t k = 0; k < 28; ++k) {
                    frame->data[(block / 256 * 8 + k / 8) * w + block % 256 * 8 + k % 8] = 2 * cases[c][r].level;
                }
            }
        }
        const uint64_t expected = bits(noise(frame.get()));
        kernel_testing::forEachSimdLevel([&](nrvq::kernels::SimdLevel level) {
            EXPECT_EQ(bits(nrvq::kernels::noise(frame.get(), scratch)), expected)
                << "case " << c << " at " << nrvq::kernels::simdLevelName(level);
        });
    }
}

}  // namespace
