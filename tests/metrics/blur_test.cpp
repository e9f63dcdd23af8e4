#include <gtest/gtest.h>

#include "metrics/blur.h"
#include "testing.h"

// A frame whose rows all hold level(column), or 255 minus it when falling.
static double blurOf(uint64_t w, uint64_t h, bool falling, int (*level)(uint64_t)) {
    return blur(testing_support::makeImage8(w, h, [&](uint64_t, uint64_t c) {
                    return falling ? 255 - level(c) : level(c);
                }).get());
}

// 0 up to column 29, then 80, 160, 240, then 255 from column 33 on.
static int ramp(uint64_t c) { return c < 30 ? 0 : c < 33 ? static_cast<int>(80 * (c - 29)) : 255; }

TEST(Blur, EdgeWidthsRisingAndFalling) {
    for (bool falling : {false, true}) {
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t) { return 90; }), 0.0);
        EXPECT_EQ(blurOf(32, 2, falling, [](uint64_t c) { return c < 16 ? 0 : 255; }), 0.0);
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t c) { return c < 16 ? 0 : 255; }), 1.0);
        // 0, 100, 255, 155: the rise at column 16 is measured as falling
        // because its right neighbour falls (rising it would be 2 wide); the
        // mirrored fall stays falling and is 2 wide.
        EXPECT_EQ(blurOf(32, 32, falling, [](uint64_t c) { return c < 15 ? 0 : c == 15 ? 100 : c == 16 ? 255 : 155; }),
                  falling ? 2.0 : 1.0);
        // Columns 30 and 31 tie with their right neighbour and are no maxima;
        // column 32 is, and the qualifying run is columns 30 ... 33.
        EXPECT_EQ(blurOf(64, 64, falling, ramp), 4.0);
        // The ramp and a hard step back in one row: counting a tied ramp
        // column as well would raise the mean above (4 + 1) / 2.
        EXPECT_EQ(blurOf(256, 16, falling, [](uint64_t c) { return c < 48 ? ramp(c) : 0; }), 2.5);
    }
}

TEST(Blur, EdgesCountFromSixteenTimesTheMeanEnergy) {
    // A hard rise at column 16 and a two-sample fall of 110 per sample at
    // column 40 in every row. The fall's energy, 12100, is below sixteen
    // times the mean in a frame 64 wide (22306) and above it in one 256 wide
    // (5576): there it adds edges 2 wide.
    const auto rowOf = [](uint64_t c) { return c < 16 ? 0 : c < 40 ? 255 : c == 40 ? 145 : 35; };
    EXPECT_EQ(blurOf(64, 32, false, rowOf), 1.0);
    EXPECT_EQ(blurOf(256, 32, false, rowOf), 1.5);
}

TEST(Blur, OpinionScore) {
    EXPECT_NEAR(blurToMOS(0.0), 4.96154, 5e-6);
    EXPECT_NEAR(blurToMOS(10.0), 0.91506, 5e-6);
}
