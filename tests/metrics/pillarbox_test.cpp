#include <gtest/gtest.h>

#include <cmath>

#include "metrics/pillarbox.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {

TEST(Pillarbox, LeftBarOfBColumnsCountsBMinusOnePositions) {
    auto frame = makeImage8(8, 4, [](uint64_t, uint64_t c) { return c < 3 ? 16 : static_cast<int>(70 + 10 * c); });
    EXPECT_EQ(pillarbox(frame.get()), 0.5);
    auto rightBar = makeImage8(8, 4, [](uint64_t, uint64_t c) { return c >= 5 ? 16 : static_cast<int>(70 + 10 * c); });
    EXPECT_EQ(pillarbox(rightBar.get()), 0.0);
    EXPECT_EQ(pillarbox(makeImage8(8, 4).get()), 1.0);
}

TEST(Pillarbox, ExaminesUpperAndLowerHalvesButNotTheMiddleRow) {
    // A difference in the last row ends the bar; one in the middle row of an
    // odd height does not.
    auto lower = makeImage8(8, 5, [](uint64_t r, uint64_t c) { return r == 4 && c == 2 ? 1 : 0; });
    EXPECT_EQ(pillarbox(lower.get()), 1.0 / 4.0);
    auto middle = makeImage8(8, 5, [](uint64_t r, uint64_t c) { return r == 2 && c == 2 ? 1 : 0; });
    EXPECT_EQ(pillarbox(middle.get()), 1.0);
}

TEST(Pillarbox, OneRowOrOneColumn) {
    EXPECT_EQ(pillarbox(testing_support::randomImage8(7, 1, 2).get()), 1.0);
    EXPECT_TRUE(std::isnan(pillarbox(makeImage8(1, 6).get())));
}

}  // namespace
