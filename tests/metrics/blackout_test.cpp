#include <gtest/gtest.h>

#include <utility>

#include "metrics/blackout.h"
#include "testing.h"

using testing_support::makeImage8;

TEST(Blackout, SpreadOfWholeBlockMeansMustStayBelowFour) {
    EXPECT_TRUE(blackout(makeImage8(24, 16, [](uint64_t, uint64_t) { return 255; }).get()));
    auto frame = makeImage8(24, 16, [](uint64_t r, uint64_t c) { return r >= 8 && c >= 8 && c < 16 ? 4 : 0; });
    EXPECT_FALSE(blackout(frame.get()));  // spread exactly 4.0
    frame->data[9 * 24 + 10] = 3;         // spread 255 / 64
    EXPECT_TRUE(blackout(frame.get()));
    EXPECT_TRUE(blackout(makeImage8(24, 16, [](uint64_t r, uint64_t c) { return r == 5 && c == 20 ? 255 : 0; }).get()));
    // Samples outside whole blocks never matter; without a whole block there is no blackout.
    EXPECT_TRUE(blackout(makeImage8(20, 20, [](uint64_t r, uint64_t c) { return r < 16 && c < 16 ? 60 : 255; }).get()));
    EXPECT_FALSE(blackout(makeImage8(7, 64).get()));
    EXPECT_FALSE(blackout(makeImage8(64, 7).get()));
}

TEST(BlackoutDeathTest, MinmaxOfAtLeastOneValue) {
    const int32_t values[] = {7, -2, 9, 9};
    int32_t lowest = 0;
    int32_t highest = 0;
    minmax(values, 1, &lowest, &highest);
    EXPECT_EQ(std::make_pair(lowest, highest), std::make_pair(7, 7));
    minmax(values, 4, &lowest, &highest);
    EXPECT_EQ(std::make_pair(lowest, highest), std::make_pair(-2, 9));
    EXPECT_DEATH(minmax(values, 0, &lowest, &highest), "size > 0");
}
