// Rule tests of the literal indicators of a frame's detail and levels:
// blur, noise, spatial activity, contrast, exposure.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/noise.h"
#include "metrics/spatialActivity.h"
#include "testing.h"

using testing_support::makeImage8;

// A frame whose rows all hold level(column), or 255 minus it when falling.
static double blurOf(uint64_t w, uint64_t h, bool falling, int (*level)(uint64_t)) {
    return blur(testing_support::makeImage8(w, h, [&](uint64_t, uint64_t c) {
                    return falling ? 255 - level(c) : level(c);
                }).get());
}

// 0 up to column 29, then 80, 160, 240, then 255 from column 33 on.
static int ramp(uint64_t c) { return c < 30 ? 0 : c < 33 ? static_cast<int>(80 * (c - 29)) : 255; }

TEST(Blur, EdgeWidthsRisingAndFalling) {
    for (bool falling : {false, true}) {
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t) { return 90; }), 0.0);
        EXPECT_EQ(blurOf(32, 2, falling, [](uint64_t c) { return c < 16 ? 0 : 255; }), 0.0);
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t c) { return c < 16 ? 0 : 255; }), 1.0);
        // 0, 100, 255, 155: the rise at column 16 is measured as falling
        // because its right neighbour falls (rising it would be 2 wide); the
        // mirrored fall stays falling and is 2 wide.
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t c) { return c < 15 ? 0 : c == 15 ? 100 : c == 16 ? 255 : 155; }),
                  falling ? 2.0 : 1.0);
        // Columns 30 and 31 tie with their right neighbour and are no maxima;
        // column 32 is, and the qualifying run is columns 30 ... 33.
        EXPECT_EQ(blurOf(64, 64, falling, ramp), 4.0);
        // The ramp and a hard step back in one row: counting a tied ramp
        // column as well would raise the mean above (4 + 1) / 2.
        EXPECT_EQ(blurOf(256, 16, falling, [](uint64_t c) { return c < 48 ? ramp(c) : 0; }), 2.5);
    }
}

TEST(Blur, EdgesCountFromSixteenTimesTheMeanEnergy) {
    // A hard rise at column 16 and a two-sample fall of 110 per sample at
    // column 40 in every row. The fall's energy, 12100, is below sixteen
    // times the mean in a frame 64 wide (22306) and above it in one 256 wide
    // (5576): there it adds edges 2 wide.
    const auto rowOf = [](uint64_t c) { return c < 16 ? 0 : c < 40 ? 255 : c == 40 ? 145 : 35; };
    EXPECT_EQ(blurOf(64, 32, false, rowOf), 1.0);
    EXPECT_EQ(blurOf(256, 32, false, rowOf), 1.5);
}

TEST(Blur, OpinionScore) {
    EXPECT_NEAR(blurToMOS(0.0), 4.96154, 5e-6);
    EXPECT_NEAR(blurToMOS(10.0), 0.91506, 5e-6);
}

// 8 x 8 blocks of two levels. A checkerboard and stripes of the same step
// have the same deviation, step / 2 * sqrt(64 / 63), and different residuals.
using Pattern = std::function<int(uint64_t, uint64_t)>;
Pattern checker(int step) { return [=](uint64_t r, uint64_t c) { return (r + c) % 2 ? 100 + step : 100; }; }
Pattern stripes(int step) { return [=](uint64_t, uint64_t c) { return c % 2 ? 100 + step : 100; }; }

// noise of a frame of one block row holding the given blocks.
double noiseOf(const std::vector<Pattern>& blocks) {
    return noise(makeImage8(8 * blocks.size(), 8, [&](uint64_t r, uint64_t c) { return blocks[c / 8](r, c % 8); }).get());
}

TEST(Noise, LevelsAndDegenerateFrames) {
    EXPECT_EQ(noise(makeImage8(32, 24, [](uint64_t, uint64_t) { return 140; }).get()), 0.0);
    EXPECT_EQ(noise(makeImage8(7, 64, checker(50)).get()), 0.0);
    // Deviations 2.01581, 2.01581, 0: estimate 2.0 and a kernel of spread 2.
    EXPECT_NEAR(noiseOf({checker(4), checker(4), [](uint64_t, uint64_t) { return 50; }}), 1.98112, 5e-6);
    // All deviations 0.66667: estimate 1.0, but no block with floor(sigma) = 1.
    EXPECT_TRUE(std::isnan(noise(makeImage8(16, 16, [](uint64_t r, uint64_t) { return r % 8 ? 100 : 102; }).get())));
}

TEST(Noise, ModeAndSelectionRules) {
    // Steps 6 and 10 give deviations 3.02 and 5.04; the mode is the bin that reached the top count first.
    EXPECT_EQ(noiseOf({checker(10), checker(6), checker(6), checker(10)}), noiseOf({checker(6), checker(6)}));
    EXPECT_EQ(noiseOf({checker(6), checker(10), checker(10), checker(6)}), noiseOf({checker(10), checker(10)}));
    // Deviations 2.02 (bin 2), 2.52 (bin 3) and 3.02 (bin 3).
    const Pattern x = checker(4), y = checker(5), z = checker(6);
    // Estimate 2.4 keeps 2 <= sigma < 3: swapping z changes nothing, swapping y does.
    EXPECT_EQ(noiseOf({x, x, x, y, z}), noiseOf({x, x, x, y, stripes(6)}));
    EXPECT_NE(noiseOf({x, x, x, y, z}), noiseOf({x, x, x, stripes(5), z}));
    // Estimate 2.5 keeps 2.5 <= sigma < 3.5: swapping x changes nothing, swapping z does.
    EXPECT_EQ(noiseOf({x, x, y, z}), noiseOf({stripes(4), stripes(4), y, z}));
    EXPECT_NE(noiseOf({x, x, y, z}), noiseOf({x, x, y, stripes(6)}));
    // Mode 0 weighs bins 0 to 2: estimate 0.8 and no block rounds to 1.
    const Pattern flat = [](uint64_t, uint64_t) { return 9; };
    EXPECT_TRUE(std::isnan(noiseOf({flat, flat, flat, x, x})));
}

TEST(Noise, OnlyTheFirstThousandQualifyingBlocksCount) {
    std::vector<Pattern> blocks(1000, checker(4));
    blocks.resize(1010, stripes(4));
    EXPECT_NEAR(noiseOf(blocks), 1.98112, 5e-6);
    blocks.erase(blocks.begin());
    EXPECT_GT(std::fabs(noiseOf(blocks) - 1.98112), 1e-5);
}

namespace {


TEST(SpatialActivity, SobelEnergyOverTheInteriorPerSample) {
    // Columns 2-3 at 100: both interior samples see Gx = 400; the divisor counts all 12 samples.
    auto frame = makeImage8(4, 3, [](uint64_t, uint64_t c) { return c >= 2 ? 100 : 0; });
    EXPECT_EQ(spatialActivity(frame.get()), std::sqrt(320000.0) / std::sqrt(12.0));
    EXPECT_NEAR(spatialActivity(frame.get()), 163.29932, 5e-6);
    // Gx = 290 - 45, Gy = 185 - 70; the centre carries no weight.
    auto weights = makeImage8(3, 3, {0, 10, 50, 20, 99, 70, 5, 40, 100});
    EXPECT_EQ(spatialAct(weights.get()), std::sqrt(245.0 * 245 + 115 * 115));
    auto oneRow = makeImage8(4, 1, {0, 255, 0, 255});
    auto twoRows = makeImage8(4, 2, {0, 255, 0, 255, 255, 0, 255, 0});
    EXPECT_EQ(spatialActivity(oneRow.get()), 0.0);
    EXPECT_EQ(spatialActivity(twoRows.get()), 0.0);
}

}  // namespace

TEST(Contrast, SampleStandardDeviationOfAllSamples) {
    EXPECT_NEAR(contrastRMS(makeImage8(2, 2, {0, 0, 255, 255}).get()), 147.22432, 5e-6);
    EXPECT_EQ(contrastRMS(makeImage8(3, 1, {10, 20, 30}).get()), 10.0);
    int32_t sum = 99;
    int64_t squares = 99;
    sumAndSquareSum(makeImage8(0, 5).get(), &sum, &squares);
    EXPECT_EQ(sum + squares, 0);  // overwritten, not accumulated
}

TEST(Exposure, MeanOfTheFourDarkestAndFourBrightestVisitedBlocks) {
    EXPECT_EQ(exposure(makeImage8(24, 24, [](uint64_t, uint64_t) { return 60; }).get()), 60.0);
    // 12 visited blocks: four of 0, four of 50, four of 200. The last block
    // column and row are white but never visited.
    EXPECT_EQ(exposure(makeImage8(56, 24, [](uint64_t r, uint64_t c) {
                           static const int levels[2][6] = {{0, 50, 200, 0, 50, 200}, {200, 0, 50, 200, 0, 50}};
                           return c >= 48 || r >= 16 ? 255 : levels[r / 8][c / 8];
                       }).get()),
              100.0);
    // Initial entries that no block replaced still count.
    EXPECT_EQ(exposure(makeImage8(16, 16).get()), 95.625);
    EXPECT_EQ(exposure(makeImage8(8, 300).get()), 127.5);
}
