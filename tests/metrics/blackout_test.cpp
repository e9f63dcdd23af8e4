#include <gtest/gtest.h>

#include "metrics/blackout.h"
#include "testing.h"

namespace {

using testing_support::makeImage8;

TEST(Blackout, FlatFramesOfAnyLevel) {
    for (int level : {0, 128, 255}) {
        EXPECT_TRUE(blackout(makeImage8(24, 16, [=](uint64_t, uint64_t) { return level; }).get())) << level;
    }
}

TEST(Blackout, SpreadOfBlockMeansMustStayBelowFour) {
    // One 8 x 8 block of fours among zeros: spread exactly 4.0.
    auto frame = makeImage8(24, 16, [](uint64_t r, uint64_t c) { return r >= 8 && c >= 8 && c < 16 ? 4 : 0; });
    EXPECT_FALSE(blackout(frame.get()));
    frame->data[9 * 24 + 10] = 3;  // spread 255 / 64
    EXPECT_TRUE(blackout(frame.get()));
    // A single bright sample does not outweigh its block.
    EXPECT_TRUE(blackout(makeImage8(24, 16, [](uint64_t r, uint64_t c) { return r == 5 && c == 20 ? 255 : 0; }).get()));
}

TEST(Blackout, OnlyWholeBlocksCount) {
    // Flat top-left 16 x 16, anything in the last four rows and columns.
    EXPECT_TRUE(blackout(makeImage8(20, 20, [](uint64_t r, uint64_t c) { return r < 16 && c < 16 ? 60 : 255; }).get()));
    // No whole block: not a blackout.
    EXPECT_FALSE(blackout(makeImage8(7, 64).get()));
    EXPECT_FALSE(blackout(makeImage8(64, 7).get()));
    EXPECT_FALSE(blackout(makeImage8(0, 0).get()));
}

TEST(Blackout, MinmaxFindsSmallestAndLargest) {
    int32_t lowest = 0;
    int32_t highest = 0;
    const int32_t single[] = {7};
    minmax(single, 1, &lowest, &highest);
    EXPECT_EQ(lowest, 7);
    EXPECT_EQ(highest, 7);
    const int32_t several[] = {3, -2, 9, 9};
    minmax(several, 4, &lowest, &highest);
    EXPECT_EQ(lowest, -2);
    EXPECT_EQ(highest, 9);
    const int32_t falling[] = {9, 3, -2};
    minmax(falling, 3, &lowest, &highest);
    EXPECT_EQ(lowest, -2);
    EXPECT_EQ(highest, 9);
}

TEST(BlackoutDeathTest, MinmaxNeedsAtLeastOneValue) {
    const int32_t values[] = {1};
    int32_t lowest = 0;
    int32_t highest = 0;
    EXPECT_DEATH(minmax(values, 0, &lowest, &highest), "size > 0");
}

}  // namespace
