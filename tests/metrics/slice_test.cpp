#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "metrics/slice.h"
#include "testing.h"

namespace {

using testing_support::makeImage8;

TEST(Slice, NoValueForFramesTooSmall) {
    for (uint64_t w : {0u, 16u, 64u, 300u}) {
        EXPECT_EQ(slice(makeImage8(w, 47).get()), -1.0) << w;
    }
    EXPECT_EQ(slice(makeImage8(16, 48).get()), -1.0);
    EXPECT_EQ(slice(makeImage8(0, 64).get()), -1.0);
}

TEST(Slice, RepetitionPatterns) {
    EXPECT_EQ(slice(makeImage8(64, 48, [](uint64_t, uint64_t) { return 9; }).get()), 1.0);
    // Constant rows that differ from one another: no vertical match at all.
    EXPECT_EQ(slice(makeImage8(64, 48, [](uint64_t r, uint64_t) { return static_cast<int>(r); }).get()),
              std::numeric_limits<double>::infinity());
    // Constant columns that differ from one another: no horizontal match.
    for (uint64_t w : {17u, 256u}) {
        EXPECT_EQ(slice(makeImage8(w, 48, [](uint64_t, uint64_t c) { return static_cast<int>(c); }).get()), 0.0)
            << w;
    }
}

TEST(Slice, ValueIsOneOverTheSmallestBandRatio) {
    // Rows 0 ... 31 all 0; rows 32 ... 47 repeat horizontally every 16 columns
    // and match the rows above in half of the columns. Band 0 has ratio 1,
    // band 1 has vertical fraction 0.5 and horizontal fraction 1.
    const auto frame = makeImage8(32, 48, [](uint64_t r, uint64_t c) { return r >= 32 && (c / 8) % 2 ? 9 : 0; });
    EXPECT_EQ(slice(frame.get()), 2.0);
}

TEST(Slice, RowsBelowTheLastVerticalBandNeverMatter) {
    // The frame of the test above with two rows of noise added below.
    auto frame = makeImage8(32, 50, [](uint64_t r, uint64_t c) {
        return r >= 48 ? static_cast<int>(r * 37 + c * 101) : r >= 32 && (c / 8) % 2 ? 9 : 0;
    });
    EXPECT_EQ(slice(frame.get()), 2.0);
    frame->data[47 * 32 + 3] = 9;  // row 47 is a lower partner of band 1
    EXPECT_NE(slice(frame.get()), 2.0);
}

TEST(Slice, CompareDoubleAscending) {
    const double small = -1.0;
    const double large = 3.0;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(compare_Double_asc(&small, &large), -1);
    EXPECT_EQ(compare_Double_asc(&large, &small), 1);
    EXPECT_EQ(compare_Double_asc(&large, &large), 0);
    EXPECT_EQ(compare_Double_asc(&nan, &small), 0);
}

TEST(Slice, DivideDoubleIsPlainDivision) {
    double a[] = {1.0, -2.0, 0.0, 6.0};
    double b[] = {0.0, 0.0, 0.0, 3.0};
    double out[] = {5.0, 5.0, 5.0, 5.0};
    const ImageDouble ia = makeImageDouble(2, 2, a);
    const ImageDouble ib = makeImageDouble(2, 2, b);
    ImageDouble io = makeImageDouble(2, 2, out);
    divideDouble(&ia, &ib, &io);
    EXPECT_EQ(out[0], std::numeric_limits<double>::infinity());
    EXPECT_EQ(out[1], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(out[2]));
    EXPECT_EQ(out[3], 2.0);
}

}  // namespace
