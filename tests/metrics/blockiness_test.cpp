#include <gtest/gtest.h>

#include <cmath>

#include "metrics/blockiness.h"
#include "testing.h"

using testing_support::makeImage8;

TEST(Blockiness, FlatStepAndInsideOnlyFrames) {
    EXPECT_EQ(blockiness(makeImage8(40, 40, [](uint64_t, uint64_t) { return 77; }).get()), 1.0);
    EXPECT_EQ(blockiness(testing_support::randomImage8(15, 15, 3).get()), 1.0);  // no border
    EXPECT_EQ(blockiness(makeImage8(16, 16, [](uint64_t r, uint64_t) { return r < 8 ? 0 : 100; }).get()), 0.0);
    EXPECT_EQ(blockiness(makeImage8(16, 16, [](uint64_t r, uint64_t) { return r == 6 ? 10 : 0; }).get()), INFINITY);
}

TEST(Blockiness, RunningSumsCarryOverFromBorderToBorder) {
    // Border 8: inside 160, across 0; border 16: inside 320, across 320.
    // Carried running sums give 640 / 320; a per-border sum would give 1.5.
    auto rows = [](uint64_t r, uint64_t) { return r == 6 ? 10 : r == 15 ? 20 : 0; };
    EXPECT_EQ(blockiness(makeImage8(16, 24, rows).get()), 2.0);
    EXPECT_EQ(blockiness(makeImage8(24, 16, [&](uint64_t r, uint64_t c) { return rows(c, r); }).get()), 2.0);
}

TEST(Blockiness, OpinionScore) {
    EXPECT_DOUBLE_EQ(blockToMOS(1.0), 3.74);
    EXPECT_DOUBLE_EQ(blockToMOS(2.0), 12.67);
    EXPECT_EQ(blockToMOS(0.5), 0.0);
}
