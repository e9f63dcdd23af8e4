#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "metrics/noise.h"
#include "testing.h"

namespace {

using testing_support::makeImage8;

// 8 x 8 block patterns of two levels base and base + step. A checkerboard
// and stripes of the same step have the same deviation, step / 2 * sqrt(64 / 63),
// but leave different residuals after smoothing.
using Pattern = std::function<int(uint64_t, uint64_t)>;
Pattern checker(int base, int step) {
    return [=](uint64_t r, uint64_t c) { return (r + c) % 2 ? base + step : base; };
}
Pattern stripes(int base, int step) {
    return [=](uint64_t, uint64_t c) { return c % 2 ? base + step : base; };
}

// A frame of one block row holding the given blocks from left to right.
OwnedImage<Image> blockRow(const std::vector<Pattern>& blocks) {
    return makeImage8(8 * blocks.size(), 8, [&](uint64_t r, uint64_t c) { return blocks[c / 8](r, c % 8); });
}

TEST(Noise, FramesWithoutNoiseOrBlocks) {
    EXPECT_EQ(noise(makeImage8(32, 24, [](uint64_t, uint64_t) { return 140; }).get()), 0.0);
    EXPECT_EQ(noise(makeImage8(7, 64, checker(0, 50)).get()), 0.0);
    EXPECT_EQ(noise(makeImage8(64, 7, checker(0, 50)).get()), 0.0);
}

TEST(Noise, CheckerboardBlocksAtLevelTwo) {
    // Deviations 2.01581, 2.01581, 0: mode 2, estimate 2.0, kernel of spread 2.
    const auto flat = [](uint64_t, uint64_t) { return 50; };
    EXPECT_NEAR(noise(blockRow({checker(100, 4), checker(100, 4), flat}).get()), 1.98112, 5e-6);
}

TEST(Noise, NoBlockAtTheTargetGivesNotANumber) {
    // Every deviation is 0.66667: estimate 1.0, but no block has floor(sigma) = 1.
    const auto frame = makeImage8(16, 16, [](uint64_t r, uint64_t) { return r % 8 == 0 ? 102 : 100; });
    EXPECT_TRUE(std::isnan(noise(frame.get())));
}

TEST(Noise, ModeIsTheBinThatReachedTheTopCountFirst) {
    // Checkerboard steps 6 and 10 give deviations 3.02 and 5.04.
    const double level3 = noise(blockRow({checker(90, 6), checker(90, 6)}).get());
    const double level5 = noise(blockRow({checker(90, 10), checker(90, 10)}).get());
    EXPECT_NE(level3, level5);
    EXPECT_EQ(noise(blockRow({checker(90, 10), checker(90, 6), checker(90, 6), checker(90, 10)}).get()), level3);
    EXPECT_EQ(noise(blockRow({checker(90, 6), checker(90, 10), checker(90, 10), checker(90, 6)}).get()), level5);
}

TEST(Noise, SelectionDependsOnTheFractionOfTheEstimate) {
    // Deviations: x 2.02 (bin 2), y 2.52 (bin 3), z 3.02 (bin 3); the
    // primed variants have the same deviation and a different residual.
    const Pattern x = checker(80, 4), x2 = stripes(80, 4);
    const Pattern y = checker(80, 5), y2 = stripes(80, 5);
    const Pattern z = checker(80, 6), z2 = stripes(80, 6);
    // Bins 2, 2, 2, 3, 3: estimate 2.4 keeps 2 <= sigma < 3, that is x and y.
    const double estimate24 = noise(blockRow({x, x, x, y, z}).get());
    EXPECT_EQ(noise(blockRow({x, x, x, y, z2}).get()), estimate24);
    EXPECT_NE(noise(blockRow({x, x, x, y2, z}).get()), estimate24);
    EXPECT_NE(noise(blockRow({x2, x, x, y, z}).get()), estimate24);
    // Bins 2, 2, 3, 3: estimate 2.5 keeps 2.5 <= sigma < 3.5, that is y and z.
    const double estimate25 = noise(blockRow({x, x, y, z}).get());
    EXPECT_EQ(noise(blockRow({x2, x2, y, z}).get()), estimate25);
    EXPECT_NE(noise(blockRow({x, x, y2, z}).get()), estimate25);
    EXPECT_NE(noise(blockRow({x, x, y, z2}).get()), estimate25);
}

TEST(Noise, OnlyTheFirstThousandQualifyingBlocksCount) {
    std::vector<Pattern> blocks(1000, checker(100, 4));
    blocks.resize(1010, stripes(100, 4));
    EXPECT_NEAR(noise(blockRow(blocks).get()), 1.98112, 5e-6);
    blocks.erase(blocks.begin());  // now a striped block is among the first thousand
    EXPECT_GT(std::fabs(noise(blockRow(blocks).get()) - 1.98112), 1e-5);
}

TEST(Noise, DoubleBlockDeviationsLeaveOutTheBorder) {
    // Two 4 x 4 blocks side by side; a 3 x 3 kernel leaves the inner 2 x 2.
    std::vector<double> samples(8 * 4, 1000.0);
    const double inner[2][4] = {{1.0, 2.0, 3.0, 6.0}, {5.0, 5.0, 5.0, 5.0}};
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 4; ++i) {
            samples[(1 + i / 2) * 8 + b * 4 + 1 + i % 2] = inner[b][i];
        }
    }
    const ImageDouble src = makeImageDouble(8, 4, samples.data());
    OwnedImage<ImageDouble> sums(callocImageDouble(2, 1));
    OwnedImage<ImageDouble> squares(callocImageDouble(2, 1));
    OwnedImage<ImageDouble> deviations(callocImageDouble(2, 1));
    OwnedImage<ImageDouble> kernel(callocImageDouble(3, 3));
    sums->data[1] = 4.0;  // both accumulate onto what they hold
    squares->data[1] = 100.0;
    calculateStdDevsDouble_ommitZeros(&src, sums.get(), squares.get(), deviations.get(), kernel.get(), 4, 4);
    EXPECT_EQ(sums->data[0], 12.0);
    EXPECT_EQ(squares->data[0], 50.0);
    EXPECT_DOUBLE_EQ(deviations->data[0], std::sqrt((50.0 - 144.0 / 4.0) / 3.0));
    EXPECT_EQ(sums->data[1], 24.0);
    EXPECT_DOUBLE_EQ(deviations->data[1], std::sqrt((200.0 - 576.0 / 4.0) / 3.0));

    OwnedImage<ImageDouble> wide(callocImageDouble(3, 1));
    testing::internal::CaptureStdout();
    calculateStdDevsDouble_ommitZeros(&src, sums.get(), squares.get(), deviations.get(), wide.get(), 4, 4);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Provided kernel is not symmetric!");
    EXPECT_EQ(sums->data[0], 12.0);
}

}  // namespace
