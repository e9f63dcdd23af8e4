#include <gtest/gtest.h>

#include <cmath>

#include "metrics/letterbox.h"
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
