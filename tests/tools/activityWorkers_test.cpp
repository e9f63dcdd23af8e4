#include <gtest/gtest.h>

#include "metrics/flickering.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"
#include "testing.h"

namespace {

// Every size from 0 x 0 to 17 x 17, each image allocated to its exact size,
// so that the sanitizer build catches any access outside one.
TEST(ActivityWorkers, StayInsideFramesOfEverySmallSize) {
    for (uint64_t h = 0; h <= 17; ++h) {
        for (uint64_t w = 0; w <= 17; ++w) {
            auto a = testing_support::randomImage8(w, h, w * 31 + h);
            auto b = testing_support::randomImage8(w, h, w * 37 + h + 1);
            EXPECT_TRUE(spatialAct(a.get()) >= 0.0 && ((w > 2 && h > 2) || spatialAct(a.get()) == 0.0));
            EXPECT_GE(temporalAct(a.get(), b.get()), 0.0);
            OwnedImage<Image> counts(callocImage(w / 8, h / 8)), states(callocImage(w / 8, h / 8));
            FlickeringState state;
            for (int call = 0; call < framePeriod; ++call) {
                state.update(call % 2 ? a.get() : b.get(), call % 2 ? b.get() : a.get(), counts.get(), states.get());
            }
        }
    }
}

}  // namespace
