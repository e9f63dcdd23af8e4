#include <gtest/gtest.h>

#include "metrics/blockLoss.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {

// A black 256 x 256 frame with a white square of the given side and corner.
double squareLoss(uint64_t corner, uint64_t side) {
    auto frame = makeImage8(256, 256, [=](uint64_t r, uint64_t c) {
        return r >= corner && r < corner + side && c >= corner && c < corner + side ? 255 : 0;
    });
    return blockLoss(frame.get());
}

TEST(BlockLoss, FramesBelowOneRegionGiveNoValue) {
    EXPECT_EQ(blockLoss(makeImage8(255, 300).get()), -1.0);
    EXPECT_EQ(blockLoss(makeImage8(300, 255).get()), -1.0);
    EXPECT_EQ(blockLoss(makeImage8(256, 256).get()), 0.0);
}

TEST(BlockLoss, OnlyEdgesOnTheGridCount) {
    EXPECT_EQ(squareLoss(16, 32), 4.0);
    EXPECT_EQ(squareLoss(20, 32), 0.0);
    EXPECT_EQ(squareLoss(16, 24), 1.0);
}

// One energy row of strong (1) and weak (0) samples, counted in regions of
// regionWidth samples.
std::vector<int32_t> runsAlongRow(const std::vector<int>& strong, uint64_t regionWidth) {
    OwnedImage<Image32> energy(callocImage32(strong.size(), 1));
    for (size_t i = 0; i < strong.size(); ++i) energy->data[i] = strong[i];
    OwnedImage<Image32> counts(callocImage32(strong.size() / regionWidth, 1));
    countSeqsH(energy.get(), counts.get(), regionWidth, 1, 12, 0.5);
    return std::vector<int32_t>(counts->data, counts->data + counts->w);
}

// The same down one energy column, in regions of regionHeight samples.
std::vector<int32_t> runsDownColumn(const std::vector<int>& strong, uint64_t regionHeight) {
    OwnedImage<Image32> energy(callocImage32(1, strong.size()));
    for (size_t i = 0; i < strong.size(); ++i) energy->data[i] = strong[i];
    OwnedImage<Image32> counts(callocImage32(1, strong.size() / regionHeight));
    OwnedImage<Image32> columnRuns(callocImage32(1, 1));
    countSeqsV(energy.get(), counts.get(), columnRuns.get(), 1, regionHeight, 12, 0.5);
    EXPECT_EQ(columnRuns->data[0], 0);
    return std::vector<int32_t>(counts->data, counts->data + counts->h);
}

std::vector<int> runs(std::initializer_list<std::pair<int, int>> startAndLength, int size) {
    std::vector<int> strong(size, 0);
    for (auto [start, length] : startAndLength) {
        for (int i = start; i < start + length; ++i) strong[i] = 1;
    }
    return strong;
}

TEST(BlockLoss, RunCountersCountEachRunOfTwelveOnce) {
    using V = std::vector<int32_t>;
    for (auto count : {runsAlongRow, runsDownColumn}) {
        EXPECT_EQ(count(runs({{3, 11}}, 64), 64), V{0});
        EXPECT_EQ(count(runs({{3, 12}}, 64), 64), V{1});
        EXPECT_EQ(count(runs({{3, 40}}, 64), 64), V{1});
        EXPECT_EQ(count(runs({{3, 12}, {16, 12}}, 64), 64), V{2});
        // A run of 20 over a region boundary leaves 6 in the first region
        // and 14 in the second: only the second part counts.
        EXPECT_EQ(count(runs({{26, 20}}, 64), 32), (V{0, 1}));
        EXPECT_EQ(count(runs({{20, 23}}, 64), 32), (V{1, 0}));  // 12 + 11
    }
}

TEST(BlockLoss, RowRunsDoNotContinueOntoTheNextRow) {
    OwnedImage<Image32> energy(callocImage32(16, 2));
    for (int i = 10; i < 22; ++i) energy->data[i] = 1;  // 6 + 6 samples
    OwnedImage<Image32> counts(callocImage32(1, 1));
    countSeqsH(energy.get(), counts.get(), 16, 2, 12, 0.5);
    EXPECT_EQ(counts->data[0], 0);
    // A sample equal to the threshold is not strong.
    for (int i = 0; i < 16; ++i) energy->data[i] = 2;
    countSeqsH(energy.get(), counts.get(), 16, 2, 12, 2.0);
    EXPECT_EQ(counts->data[0], 0);
    countSeqsH(energy.get(), counts.get(), 16, 2, 12, 1.9);
    EXPECT_EQ(counts->data[0], 1);
}

}  // namespace
