#include <gtest/gtest.h>

#include "testing.h"
#include "tools/definitions.h"

using testing_support::makeImage8;

namespace {

// On the ramp p(y, x) = x + 3y every difference is known and the
// horizontal and vertical ones differ.
TEST(Gradient, RampGivesConstantDifferencesAndZeroFirstRowAndColumn) {
    auto src = makeImage8(6, 5, [](uint64_t r, uint64_t c) { return int(c + 3 * r); });
    OwnedImage<Image32> gx(allocImage32(6, 5)), gy(allocImage32(6, 5)), rx(allocImage32(6, 5)), ry(allocImage32(6, 5));
    gradient(src.get(), gx.get(), gy.get());
    roberts(src.get(), rx.get(), ry.get());
    for (uint64_t i = 0; i < 30; ++i) {
        const bool inner = i >= 6 && i % 6 != 0;
        EXPECT_EQ(gx->data[i], inner ? 1 : 0);
        EXPECT_EQ(gy->data[i], inner ? 3 : 0);
        EXPECT_EQ(rx->data[i], inner ? -4 : 0);  // upper-left minus current
        EXPECT_EQ(ry->data[i], inner ? -2 : 0);  // upper minus left
    }
    addSquares32(gx.get(), gy.get(), rx.get());  // overwrites
    EXPECT_EQ(rx->data[7], 10);
}

TEST(RobertsSkip, EvaluatesOnlyTheSelectedRowsOrColumns) {
    auto src = makeImage8(32, 32, [](uint64_t r, uint64_t c) { return int((r * r * 7 + c * 3) % 256); });
    const auto p = [&](uint64_t r, uint64_t c) { return int32_t{src->data[r * 32 + c]}; };
    OwnedImage<Image32> hx(callocImage32(32, 2)), hy(callocImage32(32, 2));
    OwnedImage<Image32> vx(callocImage32(2, 32)), vy(callocImage32(2, 32));
    robertsSkip(src.get(), hx.get(), hy.get(), 1, 16);
    robertsSkip(src.get(), vx.get(), vy.get(), 16, 1);
    for (uint64_t k = 1; k < 32; ++k) {
        EXPECT_EQ(hx->data[32 + k], p(15, k - 1) - p(16, k));
        EXPECT_EQ(hy->data[32 + k], p(15, k) - p(16, k - 1));
        EXPECT_EQ(vx->data[k * 2 + 1], p(k - 1, 15) - p(k, 16));
        EXPECT_EQ(vy->data[k * 2 + 1], p(k - 1, 16) - p(k, 15));
    }
}

}  // namespace
