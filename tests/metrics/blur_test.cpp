#include <gtest/gtest.h>

#include <vector>

#include "metrics/blur.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {

// A frame whose every row holds the given samples from column 0 on,
// continued by its last sample.
double blurOfRows(uint64_t w, uint64_t h, std::vector<int> row) {
    auto frame = makeImage8(w, h, [&](uint64_t, uint64_t c) { return c < row.size() ? row[c] : row.back(); });
    return blur(frame.get());
}

std::vector<int> ramp(int before, std::vector<int> through, int after) {
    std::vector<int> row(30, before);
    row.insert(row.end(), through.begin(), through.end());
    row.push_back(after);
    return row;
}

std::vector<int> step(int before, int after) {
    std::vector<int> row(16, before);
    row.push_back(after);
    return row;
}

TEST(Blur, FlatOrLowFramesHaveNoEdge) {
    EXPECT_EQ(blurOfRows(32, 32, {90}), 0.0);
    EXPECT_EQ(blurOfRows(32, 2, step(0, 255)), 0.0);
}

TEST(Blur, HardStepIsOnePixelWide) {
    EXPECT_EQ(blurOfRows(32, 32, step(0, 255)), 1.0);
    EXPECT_EQ(blurOfRows(32, 32, step(255, 0)), 1.0);
}

TEST(Blur, RampIsMeasuredFromItsRightmostMaximum) {
    // Columns 30 and 31 tie with their right neighbour and are no maxima;
    // column 32 is, and the qualifying run is columns 30 ... 33.
    EXPECT_EQ(blurOfRows(64, 64, ramp(0, {80, 160, 240}, 255)), 4.0);
    EXPECT_EQ(blurOfRows(64, 64, ramp(255, {175, 95, 15}, 0)), 4.0);
    // The same ramp (width 4) and a hard fall (width 1) in one row: counting
    // a tied ramp column as well would raise the mean above 2.5.
    std::vector<int> row = ramp(0, {80, 160, 240}, 255);
    row.resize(48, 255);
    row.push_back(0);
    EXPECT_EQ(blurOfRows(256, 16, row), 2.5);
}

TEST(Blur, OpinionScore) {
    EXPECT_NEAR(blurToMOS(0.0), 4.96154, 5e-6);
    EXPECT_NEAR(blurToMOS(2.0), 4.49516, 5e-6);
    EXPECT_NEAR(blurToMOS(10.0), 0.91506, 5e-6);
}

}  // namespace
