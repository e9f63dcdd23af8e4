// Rule tests of the literal indicators that compare frames or keep state:
// temporal activity, freezing, flickering.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "metrics/flickering.h"
#include "metrics/freezing.h"
#include "metrics/temporalActivity.h"
#include "testing.h"

using testing_support::makeImage8;

namespace {


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

namespace {

// One letter per frame of a fresh run: '0' repeats exactly, 'b' is a black
// repeat, 'd' differs slightly (0.0001), 'n' has a not-a-number activity.
std::string frozen(double fps, const std::string& frames) {
    FreezingState state;
    std::string out;
    for (char f : frames) {
        const double activity = f == 'd' ? 0.0001 : f == 'n' ? std::numeric_limits<double>::quiet_NaN() : 0.0;
        out += state.update(f == 'b', activity, fps) ? '1' : '0';
    }
    return out;
}

TEST(Freezing, RunOfExactRepeatsLastingATenthOfASecond) {
    EXPECT_EQ(frozen(25, "0000"), "0011");
    EXPECT_EQ(frozen(25, "00d000"), "000001");
    EXPECT_EQ(frozen(25, "0b00"), "0000");
    EXPECT_EQ(frozen(30, "000"), "001");
    EXPECT_EQ(frozen(20, "00"), "01");
    EXPECT_EQ(frozen(24, "000"), "001");  // 2 < 2.4000000000000004
    EXPECT_EQ(frozen(10, "0n0b"), "1010");
    EXPECT_EQ(frozen(0, "d"), "1");
    FreezingState wrapping{std::numeric_limits<int32_t>::max()};
    EXPECT_FALSE(wrapping.update(false, 0.0, 25));
    EXPECT_EQ(wrapping.freezingTemp, std::numeric_limits<int32_t>::min());
}

}  // namespace

namespace {


// A w x h video: an all-zero frame, a frame differing from it in one block
// (every block for -1), and the caller-owned per-block images.
struct Video {
    Video(uint64_t w, uint64_t h, int block = -1)
        : still(makeImage8(w, h)),
          lit(makeImage8(w, h, [=](uint64_t r, uint64_t c) {
              return block < 0 || (r / 8) * (w / 8) + c / 8 == static_cast<uint64_t>(block);
          })),
          counts(callocImage(w / 8, h / 8)),
          states(callocImage(w / 8, h / 8)) {}
    // One call per letter: 'x' compares lit with still, '.' still with itself.
    // Returns the value of the last call.
    double run(FlickeringState& state, const std::string& calls) {
        double value = 0.0;
        for (char c : calls) {
            value = state.update(c == 'x' ? lit.get() : still.get(), still.get(), counts.get(), states.get());
            EXPECT_EQ(value == -1.0, state.frameCount != 0);
        }
        return value;
    }
    OwnedImage<Image> still, lit, counts, states;
};

TEST(Flickering, PeriodsOfEightCalls) {
    FlickeringState s;
    Video every(48, 48), one(48, 48, 20);  // 36 blocks: k = 1, the largest count / 8
    EXPECT_EQ(every.run(s, "xxxxxxxx"), 0.125);  // calls 1 to 7 give -1.0 (checked in run)
    EXPECT_EQ(every.run(s, "........"), 0.0);
    EXPECT_EQ(one.run(s, "x.x.x.x."), 1.0);
    EXPECT_EQ(one.run(s, ".x.x.x.x"), 0.875);
    Video few(48, 40);  // 30 blocks: k = 0
    EXPECT_TRUE(std::isnan(few.run(s, "xxxxxxxx")));
    Video grid(80, 64, 9);  // 80 blocks: k = 2
    grid.counts->data[1] = 3, grid.counts->data[40] = 8, grid.counts->data[70] = 5, grid.counts->data[9] = 4;
    s.frameCount = 7;
    EXPECT_EQ(grid.run(s, "x"), (8 + 5) / 16.0);  // block 9 reaches 5
    for (int i = 0; i < 80; ++i) EXPECT_EQ(grid.counts->data[i] + grid.states->data[i], 0);
}

TEST(CalculateFlickering, SwitchesOnReachingTheThresholdOrAnExactRepeat) {
    // Grid 2 x 1 in a 20 x 10 frame; the samples outside it are never visited.
    auto previous = makeImage8(20, 10, [](uint64_t, uint64_t) { return 100; });
    Video v(20, 10);
    auto call = [&](int diff0, int diff1) {  // changes at (3, 2) and (7, 15), and outside the grid
        auto current = makeImage8(20, 10, [=](uint64_t r, uint64_t c) {
            return r >= 8 || c >= 16 ? 0 : 100 + (r == 3 && c == 2) * diff0 + (r == 7 && c == 15) * diff1;
        });
        OwnedImage<ImageDouble> diffs(callocImageDouble(2, 1));
        calculateFlickering(current.get(), previous.get(), v.counts.get(), v.states.get(), diffs.get(), 8, 1.0);
        return std::to_string(diffs->data[0] * 64) + " " + std::to_string(diffs->data[1] * 64) + " " +
               std::to_string(v.counts->data[0]) + std::to_string(v.counts->data[1]);
    };
    EXPECT_EQ(call(-64, 63), "64.000000 63.000000 10");  // mean 1.0 switches, 63 / 64 does not
    EXPECT_EQ(call(1, 0), "1.000000 0.000000 10");       // a smaller positive mean keeps changing
    EXPECT_EQ(call(0, 0), "0.000000 0.000000 20");       // an exact repeat is still again
    v.counts->data[1] = 255;
    EXPECT_EQ(call(0, 64), "0.000000 64.000000 20");     // 8-bit count wraps
    auto wide = makeImage8(16, 8);
    OwnedImage<Image> three(callocImage(3, 1));
    OwnedImage<ImageDouble> diffs(callocImageDouble(3, 1));
    EXPECT_DEATH(calculateFlickering(wide.get(), wide.get(), three.get(), three.get(), diffs.get(), 8, 1.0),
                 "bw <= current->w / bs");
}

}  // namespace
