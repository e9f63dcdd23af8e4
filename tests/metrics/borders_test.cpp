// Rule tests of the literal indicators that look at a frame's borders and
// its overall darkness: letterbox, pillarbox, blackout.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "metrics/blackout.h"
#include "metrics/letterbox.h"
#include "metrics/pillarbox.h"
#include "testing.h"

using testing_support::makeImage8;

// Rows for which `uniform` holds are flat (16 above the middle, 235 below);
// the others hold a ramp.
static double letterboxOf(uint64_t w, uint64_t h, bool (*uniform)(uint64_t)) {
    return letterbox(makeImage8(w, h, [&](uint64_t r, uint64_t c) {
                         return uniform(r) ? (r < h / 2 ? 16 : 235) : static_cast<int>(c * 10);
                     }).get());
}

TEST(Letterbox, CountsLeadingUniformRowPairs) {
    EXPECT_EQ(letterboxOf(4, 8, [](uint64_t r) { return r <= 1 || r >= 6; }), 0.5);
    EXPECT_EQ(letterboxOf(6, 10, [](uint64_t r) { return r <= 2 || r == 9; }), 1.0 / 5.0);  // shorter bar
    EXPECT_EQ(letterboxOf(6, 10, [](uint64_t r) { return r >= 1 && r <= 8; }), 0.0);
    EXPECT_EQ(letterbox(testing_support::randomImage8(1, 5, 1).get()), 1.0);
    EXPECT_EQ(letterbox(makeImage8(0, 4).get()), 0.0);
    EXPECT_TRUE(std::isnan(letterbox(makeImage8(5, 1).get())));
}

TEST(Pillarbox, LeftBarOfBColumnsCountsBMinusOnePositions) {
    auto ramp = [](uint64_t c) { return static_cast<int>(70 + 10 * c); };
    EXPECT_EQ(pillarbox(makeImage8(8, 4, [&](uint64_t, uint64_t c) { return c < 3 ? 16 : ramp(c); }).get()), 0.5);
    EXPECT_EQ(pillarbox(makeImage8(8, 4, [&](uint64_t, uint64_t c) { return c >= 5 ? 16 : ramp(c); }).get()), 0.0);
    // A difference in the last row ends the bar; one in the middle row of an
    // odd height is not examined.
    EXPECT_EQ(pillarbox(makeImage8(8, 5, [](uint64_t r, uint64_t c) { return r == 4 && c == 2; }).get()), 0.25);
    EXPECT_EQ(pillarbox(makeImage8(8, 5, [](uint64_t r, uint64_t c) { return r == 2 && c == 2; }).get()), 1.0);
    EXPECT_EQ(pillarbox(testing_support::randomImage8(7, 1, 2).get()), 1.0);
    EXPECT_TRUE(std::isnan(pillarbox(makeImage8(1, 6).get())));
}

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
