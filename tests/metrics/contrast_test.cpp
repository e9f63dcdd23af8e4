#include <gtest/gtest.h>

#include "metrics/contrast.h"
#include "testing.h"

using testing_support::makeImage8;

TEST(Contrast, SampleStandardDeviationOfAllSamples) {
    EXPECT_NEAR(contrastRMS(makeImage8(2, 2, {0, 0, 255, 255}).get()), 147.22432, 5e-6);
    EXPECT_EQ(contrastRMS(makeImage8(3, 1, {10, 20, 30}).get()), 10.0);
    int32_t sum = 99;
    int64_t squares = 99;
    sumAndSquareSum(makeImage8(0, 5).get(), &sum, &squares);
    EXPECT_EQ(sum + squares, 0);  // overwritten, not accumulated
}
