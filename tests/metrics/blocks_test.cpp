// Rule tests of the literal indicators built on the 8 x 8 block grid and
// bands: blockiness, block loss, slice, interlace.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/interlace.h"
#include "metrics/slice.h"
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

// A black 256 x 256 frame with a white rectangle of the given corner (on
// the diagonal), width and height.
static double squareLoss(uint64_t corner, uint64_t side, uint64_t height = 0) {
    auto in = [=](uint64_t v, uint64_t extent) { return v >= corner && v < corner + extent; };
    auto frame = testing_support::makeImage8(
        256, 256, [&](uint64_t r, uint64_t c) { return in(r, height ? height : side) && in(c, side) ? 255 : 0; });
    return blockLoss(frame.get());
}

TEST(BlockLoss, OnlyOutlinesOnTheGridScore) {
    EXPECT_EQ(blockLoss(testing_support::makeImage8(255, 300).get()), -1.0);
    EXPECT_EQ(squareLoss(16, 32), 4.0);
    EXPECT_EQ(squareLoss(20, 32), 0.0);
    EXPECT_EQ(squareLoss(16, 24), 1.0);
    // The cross operator widens a side by one: sides of 11 on the grid lines
    // are runs of exactly twelve, both ways; sides of 10 are too short.
    EXPECT_EQ(squareLoss(16, 11), 1.0);
    EXPECT_EQ(squareLoss(16, 10), 0.0);
    // Runs of twelve one way and eleven the other do not score.
    EXPECT_EQ(squareLoss(16, 11, 10), 0.0);
    EXPECT_EQ(squareLoss(16, 10, 11), 0.0);
    // Where: the square in the right-hand region of two.
    auto two = testing_support::makeImage8(512, 256, [](uint64_t r, uint64_t c) {
        return r >= 16 && r < 48 && c >= 272 && c < 304 ? 255 : 0;
    });
    EXPECT_EQ(blockLossRegions(two.get()), (std::vector<int32_t>{0, 4}));
    EXPECT_TRUE(blockLossRegions(testing_support::makeImage8(255, 300).get()).empty());
}

// Counts the runs of one line of strong ('x') and weak samples, laid along a
// row or down a column, in regions of `region` samples. Weak samples equal
// the threshold.
static std::vector<int32_t> countRuns(bool down, const std::string& line, uint64_t region) {
    const uint64_t n = line.size();
    OwnedImage<Image32> energy(down ? callocImage32(1, n) : callocImage32(n, 1));
    for (uint64_t i = 0; i < n; ++i) energy->data[i] = line[i] == 'x' ? 2 : 1;
    OwnedImage<Image32> counts(down ? callocImage32(1, n / region) : callocImage32(n / region, 1));
    OwnedImage<Image32> columnRuns(callocImage32(1, 1));
    if (down) countSeqsV(energy.get(), counts.get(), columnRuns.get(), 1, region, 12, 1.0);
    else countSeqsH(energy.get(), counts.get(), region, 1, 12, 1.0);
    EXPECT_EQ(columnRuns->data[0], 0);
    return std::vector<int32_t>(counts->data, counts->data + n / region);
}

TEST(BlockLoss, RunCountersCountEachRunOfTwelveOnceWithinItsRegion) {
    using V = std::vector<int32_t>;
    const std::string x11(11, 'x'), x12(12, 'x'), gap(20, '.');
    for (bool down : {false, true}) {
        EXPECT_EQ(countRuns(down, "." + x11 + ".", 13), V{0});
        EXPECT_EQ(countRuns(down, x12, 12), V{1});
        EXPECT_EQ(countRuns(down, std::string(40, 'x'), 40), V{1});
        EXPECT_EQ(countRuns(down, x12 + "." + x12, 25), V{2});
        // A run of 23 over a region boundary: 12 before it, 11 after.
        EXPECT_EQ(countRuns(down, gap + x12 + x11 + gap + "x", 32), (V{1, 0}));
    }
}

TEST(Slice, FrameSizesAndRepetitionPatterns) {
    EXPECT_EQ(slice(makeImage8(300, 47).get()), -1.0);
    EXPECT_EQ(slice(makeImage8(16, 48).get()), -1.0);
    EXPECT_EQ(sliceBand(makeImage8(300, 47).get()), -1);
    EXPECT_EQ(slice(makeImage8(64, 48, [](uint64_t, uint64_t) { return 9; }).get()), 1.0);
    // Rows constant and all different: no vertical match, value +infinity.
    EXPECT_EQ(slice(makeImage8(64, 48, [](uint64_t r, uint64_t) { return static_cast<int>(r); }).get()),
              std::numeric_limits<double>::infinity());
    // Columns constant and all different: no horizontal match, value 0.
    EXPECT_EQ(slice(makeImage8(17, 48, [](uint64_t, uint64_t c) { return static_cast<int>(c); }).get()), 0.0);
}

TEST(Slice, OneOverTheSmallestRatioOfTheUsedBands) {
    // Rows 0 ... 31 all 0; rows 32 ... 47 repeat every 16 columns and match
    // the rows above in half of the columns: band ratios 1 and 0.5. Rows 48
    // and 49 hold anything.
    auto frame = makeImage8(32, 50, [](uint64_t r, uint64_t c) {
        return r >= 48 ? static_cast<int>(r * 37 + c * 101) : r >= 32 && (c / 8) % 2 ? 9 : 0;
    });
    EXPECT_EQ(slice(frame.get()), 2.0);
    EXPECT_EQ(sliceBand(frame.get()), 1);  // where: the band of ratio 0.5
    frame->data[47 * 32 + 3] = 9;  // row 47 is a lower partner of band 1
    EXPECT_EQ(slice(frame.get()), 512.0 / 255.0);
}

TEST(Interlace, FractionOfWholeCombedBlocks) {
    const auto alternate = [](uint64_t r, uint64_t) { return r % 2 ? 255 : 0; };
    const int rows[4] = {200, 100, 150, 50};
    EXPECT_EQ(interlace(makeImage8(8, 8, [](uint64_t, uint64_t) { return 77; }).get()), 0.0);
    EXPECT_EQ(interlace(makeImage8(8, 8, alternate).get()), 1.0);
    EXPECT_EQ(interlace(makeImage8(12, 8, [&](uint64_t r, uint64_t) { return rows[r % 4]; }).get()), 1.0);
    EXPECT_EQ(interlace(makeImage8(8, 4, [&](uint64_t r, uint64_t c) { return c < 4 ? alternate(r, c) : 0; }).get()),
              0.5);
    // Partial blocks at the right and bottom edges are not tested.
    EXPECT_EQ(interlace(makeImage8(7, 6, alternate).get()), 1.0);
    EXPECT_TRUE(std::isnan(interlace(makeImage8(3, 9, alternate).get())));
    // Each column zig-zags strictly, in either phase: columns 0 and 1 go down-up-down, columns 2 and 3 up-down-up.
    EXPECT_EQ(interlace(makeImage8(4, 4, {9, 9, 1, 1, 1, 1, 9, 9, 5, 5, 2, 2, 0, 0, 7, 7}).get()), 1.0);
    // The same block with s2 equal to s3 in column 3.
    EXPECT_EQ(interlace(makeImage8(4, 4, {9, 9, 1, 1, 1, 1, 9, 9, 5, 5, 2, 2, 0, 0, 7, 2}).get()), 0.0);
}
