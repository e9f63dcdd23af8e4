#include <gtest/gtest.h>

#include <cmath>

#include "testing.h"
#include "tools/definitions.h"

using testing_support::makeImage8;

namespace {

TEST(BlockSums, AddIntoTheGridWrapAndIgnorePartialBlocks) {
    int32_t samples[3] = {INT32_MAX, INT32_MAX, -5};
    const Image32 big = makeImage32(3, 1, samples), empty = makeImage32(0, 3, samples);
    EXPECT_EQ(sumPixels32(&big), int64_t{INT32_MAX} * 2 - 5);  // 64 bits, sign-extended
    EXPECT_EQ(sumPixels32(&empty), 0);
    auto src = makeImage8(20, 20, [](uint64_t r, uint64_t c) { return r < 16 && c < 16 ? 1 : 200; });
    OwnedImage<Image32> dest(callocImage32(2, 2));
    dest->data[1] = 10;
    dest->data[3] = INT32_MAX;
    blockSums(src.get(), dest.get(), 8, 8);
    EXPECT_EQ(dest->data[0], 64);
    EXPECT_EQ(dest->data[1], 74);
    EXPECT_EQ(dest->data[3], INT32_MIN + 63);
}

TEST(CalculateStdDevs, HalfBlackBlockBrightBlockAndSingleSample) {
    // Left 16 x 16 block half 0 and half 255; right block all 255, whose S^2 exceeds 32 bits.
    auto src = makeImage8(32, 16, [](uint64_t r, uint64_t c) { return c >= 16 || r >= 8 ? 255 : 0; });
    OwnedImage<Image32> sums(callocImage32(2, 1)), squares(callocImage32(2, 1));
    OwnedImage<ImageDouble> devs(callocImageDouble(2, 1));
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 16, 16);
    EXPECT_EQ(devs->data[0], std::sqrt(16320.0));
    EXPECT_EQ(devs->data[1], 0.0);
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 16, 16);
    EXPECT_EQ(sums->data[0], 2 * 128 * 255);  // accumulates
    EXPECT_EQ(squares->data[1], 2 * 256 * 255 * 255);
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 1, 1);
    EXPECT_TRUE(std::isnan(devs->data[1]));
}

TEST(CalculateStdDevs, AgreesWithTwoPassDeviationOnRandomImages) {
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        auto src = testing_support::randomImage8(43, 27, seed);
        OwnedImage<Image32> sums(callocImage32(5, 3)), squares(callocImage32(5, 3));
        OwnedImage<ImageDouble> devs(callocImageDouble(5, 3));
        calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 8, 8);
        for (uint64_t b = 0; b < 15; ++b) {
            const auto v = [&](uint64_t i) { return double(src->data[(b / 5 * 8 + i / 8) * 43 + b % 5 * 8 + i % 8]); };
            double mean = 0.0, dev = 0.0;
            for (uint64_t i = 0; i < 64; ++i) mean += v(i) / 64;
            for (uint64_t i = 0; i < 64; ++i) dev += (v(i) - mean) * (v(i) - mean);
            EXPECT_NEAR(devs->data[b], std::sqrt(dev / 63), 1e-9);
        }
    }
}

}  // namespace
