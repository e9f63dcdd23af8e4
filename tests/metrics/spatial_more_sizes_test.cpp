#include <gtest/gtest.h>

#include <cmath>

#include "metrics/blackout.h"
#include "metrics/interlace.h"
#include "metrics/noise.h"
#include "metrics/slice.h"
#include "testing.h"

namespace {

// Every indicator over random frames of awkward sizes: the sanitizer build
// proves that none of them reads or writes outside the frame or its working
// images; the no-value results of small frames are checked on the way.
TEST(SpatialMoreSizes, RandomFramesOfEverySize) {
    const uint64_t sizes[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 47, 48, 50};
    uint64_t seed = 1;
    for (uint64_t h : sizes) {
        for (uint64_t w : sizes) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            const auto frame = testing_support::randomImage8(w, h, seed++);
            const double combed = interlace(frame.get());
            if (w < 4 || h < 4) {
                EXPECT_TRUE(std::isnan(combed));
            } else {
                EXPECT_GE(combed, 0.0);
                EXPECT_LE(combed, 1.0);
            }
            const double level = noise(frame.get());
            if (w < 8 || h < 8) {
                EXPECT_EQ(level, 0.0);
            }
            const double repetition = slice(frame.get());
            if (w < 17 || h < 48) {
                EXPECT_EQ(repetition, -1.0);
            }
            const bool flat = blackout(frame.get());
            if (w < 8 || h < 8) {
                EXPECT_FALSE(flat);
            }
        }
    }
}

}  // namespace
