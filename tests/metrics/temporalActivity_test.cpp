#include <gtest/gtest.h>

#include <cmath>

#include "metrics/temporalActivity.h"
#include "testing.h"

namespace {

using testing_support::makeImage8;

TEST(TemporalActivity, RootMeanSquareOfTheDifference) {
    auto frame = makeImage8(2, 2, {10, 20, 30, 40});
    auto buffer = makeImage8(3, 3);
    const Image zeros = makeImage(0, 0, buffer->data);  // only the current frame's size is read
    EXPECT_EQ(temporalActivity(frame.get(), &zeros), std::sqrt(3000.0) / 2.0);
    EXPECT_NEAR(temporalActivity(frame.get(), &zeros), 27.38613, 5e-6);
    // 300 * 300 * 255^2 passes 2^32.
    auto white = makeImage8(300, 300, [](uint64_t, uint64_t) { return 255; });
    auto black = makeImage8(300, 300);
    EXPECT_EQ(temporalActivity(white.get(), black.get()), 255.0);
}

}  // namespace
