#include <gtest/gtest.h>

#include <cmath>

#include "metrics/pillarbox.h"
#include "testing.h"

using testing_support::makeImage8;

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
