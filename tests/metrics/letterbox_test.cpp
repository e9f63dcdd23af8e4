#include <gtest/gtest.h>

#include <cmath>

#include "metrics/letterbox.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {

// A frame w wide whose rows listed as uniform hold 16 (top half) or 235
// (bottom half) and whose other rows hold a ramp.
double letterboxOf(uint64_t w, uint64_t h, std::function<bool(uint64_t)> uniform) {
    auto frame = makeImage8(w, h, [&](uint64_t r, uint64_t c) {
        return uniform(r) ? (r < h / 2 ? 16 : 235) : static_cast<int>(c * 10);
    });
    return letterbox(frame.get());
}

TEST(Letterbox, CountsLeadingUniformRowPairs) {
    EXPECT_EQ(letterboxOf(4, 8, [](uint64_t r) { return r <= 1 || r >= 6; }), 0.5);
    // A top bar of 3 rows and a bottom bar of 1: the shorter bar decides.
    EXPECT_EQ(letterboxOf(6, 10, [](uint64_t r) { return r <= 2 || r == 9; }), 1.0 / 5.0);
    // Uniform rows only in the middle do not count.
    EXPECT_EQ(letterboxOf(6, 10, [](uint64_t r) { return r >= 1 && r <= 8; }), 0.0);
    EXPECT_EQ(letterboxOf(6, 10, [](uint64_t) { return true; }), 1.0);
}

TEST(Letterbox, NarrowAndFlatFrames) {
    EXPECT_EQ(letterbox(testing_support::randomImage8(1, 5, 1).get()), 1.0);
    EXPECT_EQ(letterbox(makeImage8(0, 4).get()), 0.0);
    EXPECT_TRUE(std::isnan(letterbox(makeImage8(5, 1).get())));
}

}  // namespace
