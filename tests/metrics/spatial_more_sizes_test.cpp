#include <gtest/gtest.h>

#include <cmath>

#include "metrics/blackout.h"
#include "metrics/interlace.h"
#include "metrics/noise.h"
#include "metrics/slice.h"
#include "testing.h"

// Random frames of awkward sizes; under the sanitizers this proves that no
// indicator reaches outside the frame or its working images.
TEST(SpatialMoreSizes, RandomFramesOfEverySize) {
    const uint64_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 47, 48, 50};
    uint64_t seed = 1;
    for (uint64_t h : sizes) {
        for (uint64_t w : sizes) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            const auto frame = testing_support::randomImage8(w, h, seed++);
            EXPECT_EQ(std::isnan(interlace(frame.get())), w < 4 || h < 4);
            EXPECT_TRUE(noise(frame.get()) != 0.0 || w < 8 || h < 8);
            EXPECT_EQ(slice(frame.get()) == -1.0, w < 17 || h < 48);
            EXPECT_TRUE(!blackout(frame.get()) || (w >= 8 && h >= 8));
        }
    }
}
