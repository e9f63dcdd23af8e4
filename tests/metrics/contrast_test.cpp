#include <gtest/gtest.h>

#include "metrics/contrast.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {

TEST(Contrast, SampleStandardDeviation) {
    EXPECT_NEAR(contrastRMS(makeImage8(2, 2, {0, 0, 255, 255}).get()), 147.22432, 5e-6);
    EXPECT_EQ(contrastRMS(makeImage8(3, 1, {10, 20, 30}).get()), 10.0);
    EXPECT_EQ(contrastRMS(makeImage8(9, 9, [](uint64_t, uint64_t) { return 200; }).get()), 0.0);
}

TEST(Contrast, SumAndSquareSumOverwriteTheirResults) {
    int32_t sum = 99;
    int64_t squares = 99;
    sumAndSquareSum(makeImage8(3, 1, {10, 20, 255}).get(), &sum, &squares);
    EXPECT_EQ(sum, 285);
    EXPECT_EQ(squares, 100 + 400 + 65025);
    sumAndSquareSum(makeImage8(0, 5).get(), &sum, &squares);
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(squares, 0);
}

}  // namespace
