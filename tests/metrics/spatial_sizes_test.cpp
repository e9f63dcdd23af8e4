// Runs the single-frame indicators over random frames of many sizes, down to
// 0 x 0, so that the sanitizer build can catch any access outside a frame or
// a working image.
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

namespace {

TEST(SpatialSizes, EveryIndicatorStaysInsideFramesOfAnySize) {
    const uint64_t sides[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33};
    std::vector<std::pair<uint64_t, uint64_t>> sizes;
    for (uint64_t w : sides) {
        for (uint64_t h : sides) sizes.emplace_back(w, h);
    }
    sizes.insert(sizes.end(), {{257, 256}, {256, 300}, {300, 257}, {512, 263}, {1, 300}, {300, 1}});
    uint64_t seed = 1;
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        auto frame = testing_support::randomImage8(w, h, seed++);
        const double blocky = blockiness(frame.get());
        EXPECT_TRUE(blocky >= 0.0) << blocky;
        const double loss = blockLoss(frame.get());
        EXPECT_EQ(loss == -1.0, w < 256 || h < 256);
        EXPECT_GE(blur(frame.get()), 0.0);
        const double letter = letterbox(frame.get());
        const double pillar = pillarbox(frame.get());
        EXPECT_TRUE(h < 2 || (letter >= 0.0 && letter <= 1.0)) << letter;
        EXPECT_TRUE(w < 2 || (pillar >= 0.0 && pillar <= 1.0)) << pillar;
        const double bright = exposure(frame.get());
        EXPECT_TRUE(bright >= 0.0 && bright <= 255.0) << bright;
        const double contrast = contrastRMS(frame.get());
        EXPECT_EQ(std::isnan(contrast), w * h < 2);
    }
}

}  // namespace
