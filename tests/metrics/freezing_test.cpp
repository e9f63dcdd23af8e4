#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "metrics/freezing.h"

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
