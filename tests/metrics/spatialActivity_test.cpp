#include <gtest/gtest.h>

#include <cmath>

#include "metrics/spatialActivity.h"
#include "testing.h"

namespace {

using testing_support::makeImage8;

TEST(SpatialActivity, SobelEnergyOverTheInteriorPerSample) {
    // Columns 2-3 at 100: both interior samples see Gx = 400; the divisor counts all 12 samples.
    auto frame = makeImage8(4, 3, [](uint64_t, uint64_t c) { return c >= 2 ? 100 : 0; });
    EXPECT_EQ(spatialActivity(frame.get()), std::sqrt(320000.0) / std::sqrt(12.0));
    EXPECT_NEAR(spatialActivity(frame.get()), 163.29932, 5e-6);
    // Gx = 290 - 45, Gy = 185 - 70; the centre carries no weight.
    auto weights = makeImage8(3, 3, {0, 10, 50, 20, 99, 70, 5, 40, 100});
    EXPECT_EQ(spatialAct(weights.get()), std::sqrt(245.0 * 245 + 115 * 115));
    auto oneRow = makeImage8(4, 1, {0, 255, 0, 255});
    auto twoRows = makeImage8(4, 2, {0, 255, 0, 255, 255, 0, 255, 0});
    EXPECT_EQ(spatialActivity(oneRow.get()), 0.0);
    EXPECT_EQ(spatialActivity(twoRows.get()), 0.0);
}

}  // namespace
