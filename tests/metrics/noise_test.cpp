#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "metrics/noise.h"
#include "testing.h"

using testing_support::makeImage8;

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
}

TEST(Noise, OnlyTheFirstThousandQualifyingBlocksCount) {
    std::vector<Pattern> blocks(1000, checker(4));
    blocks.resize(1010, stripes(4));
    EXPECT_NEAR(noiseOf(blocks), 1.98112, 5e-6);
    blocks.erase(blocks.begin());
    EXPECT_GT(std::fabs(noiseOf(blocks) - 1.98112), 1e-5);
}
