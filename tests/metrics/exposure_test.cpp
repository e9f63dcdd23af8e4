#include <gtest/gtest.h>

#include "metrics/exposure.h"
#include "testing.h"

using testing_support::makeImage8;

TEST(Exposure, MeanOfTheFourDarkestAndFourBrightestVisitedBlocks) {
    EXPECT_EQ(exposure(makeImage8(24, 24, [](uint64_t, uint64_t) { return 60; }).get()), 60.0);
    // 12 visited blocks: four of 0, four of 50, four of 200. The last block
    // column and row are white but never visited.
    EXPECT_EQ(exposure(makeImage8(56, 24, [](uint64_t r, uint64_t c) {
                           static const int levels[2][6] = {{0, 50, 200, 0, 50, 200}, {200, 0, 50, 200, 0, 50}};
                           return c >= 48 || r >= 16 ? 255 : levels[r / 8][c / 8];
                       }).get()),
              100.0);
    // Initial entries that no block replaced still count.
    EXPECT_EQ(exposure(makeImage8(16, 16).get()), 95.625);
    EXPECT_EQ(exposure(makeImage8(8, 300).get()), 127.5);
}
