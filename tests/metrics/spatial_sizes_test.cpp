// Runs the single-frame indicators over random frames of many sizes, down to
// 0 x 0, so that the sanitizer build catches any access outside a frame or a
// working image.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/letterbox.h"
#include "metrics/pillarbox.h"
#include "testing.h"

TEST(SpatialSizes, EveryIndicatorStaysInsideFramesOfAnySize) {
    const uint64_t sides[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33};
    std::vector<std::pair<uint64_t, uint64_t>> sizes = {{257, 256}, {256, 300}, {300, 257}, {512, 263}};
    for (uint64_t w : sides) {
        for (uint64_t h : sides) sizes.emplace_back(w, h);
    }
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        auto frame = testing_support::randomImage8(w, h, w * 1000 + h);
        EXPECT_GE(blockiness(frame.get()), 0.0);
        EXPECT_EQ(blockLoss(frame.get()) == -1.0, w < 256 || h < 256);
        EXPECT_GE(blur(frame.get()), 0.0);
        EXPECT_TRUE(h < 2 || letterbox(frame.get()) <= 1.0);
        EXPECT_TRUE(w < 2 || pillarbox(frame.get()) <= 1.0);
        EXPECT_LE(exposure(frame.get()), 255.0);
        EXPECT_EQ(std::isnan(contrastRMS(frame.get())), w * h < 2);
    }
}
