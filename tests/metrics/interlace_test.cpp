#include <gtest/gtest.h>

#include <cmath>

#include "metrics/interlace.h"
#include "testing.h"

using testing_support::makeImage8;

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
