#include <gtest/gtest.h>

#include <limits>

#include "metrics/slice.h"
#include "testing.h"

using testing_support::makeImage8;

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
