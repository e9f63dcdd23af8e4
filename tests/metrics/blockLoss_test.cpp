#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metrics/blockLoss.h"
#include "testing.h"

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
