// Temporary bit comparison of the block loss, blur, noise and slice kernels
// with their literal versions.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "clips/clip.h"
#include "kernels/kernels.h"
#include "metrics/blockLoss.h"
#include "metrics/blur.h"
#include "metrics/noise.h"
#include "metrics/slice.h"

namespace {

uint64_t bitsOf(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}

using Fill = std::function<uint8_t(size_t, size_t, std::mt19937_64&)>;

std::vector<std::pair<const char*, Fill>> fills() {
    return {
        {"random", [](size_t, size_t, std::mt19937_64& g) { return uint8_t(g()); }},
        {"binary", [](size_t, size_t, std::mt19937_64& g) { return uint8_t(g() & 1 ? 255 : 0); }},
        {"twoLevels", [](size_t, size_t, std::mt19937_64& g) { return uint8_t(100 + (g() % 3 == 0)); }},
        {"flat", [](size_t, size_t, std::mt19937_64&) { return uint8_t(77); }},
        {"ramp", [](size_t y, size_t x, std::mt19937_64&) { return uint8_t(x + 3 * y); }},
        {"rowsConstant", [](size_t y, size_t, std::mt19937_64&) { return uint8_t(y); }},
        {"colsConstant", [](size_t, size_t x, std::mt19937_64&) { return uint8_t(x); }},
        {"blocks", [](size_t y, size_t x, std::mt19937_64& g) {
             return uint8_t(((x / 16) * 37 + (y / 16) * 91) % 256 + (g() % 5 == 0 ? g() % 7 : 0));
         }},
        {"noisyBlocks8", [](size_t y, size_t x, std::mt19937_64& g) {
             return uint8_t(((x / 8) * 13 + (y / 8) * 29) % 200 + g() % (1 + (x / 8 + y / 8) % 9));
         }},
        {"squares", [](size_t y, size_t x, std::mt19937_64& g) {
             const bool in = (y % 64) >= 16 && (y % 64) < 48 && (x % 96) >= 16 && (x % 96) < 64;
             return uint8_t(in ? 230 + g() % 3 : 20 + g() % 3);
         }},
        {"sliceMix", [](size_t y, size_t x, std::mt19937_64& g) {
             // bands alternate: repeating rows, repeating columns, both, neither
             switch ((y / 16) % 4) {
                 case 0: return uint8_t(x * 7);
                 case 1: return uint8_t(y * 5 + (x % 16) * 11);
                 case 2: return uint8_t(3);
                 default: return uint8_t(g());
             }
         }},
        {"sliceNaN", [](size_t y, size_t x, std::mt19937_64&) {
             // distinct along rows and columns in some bands: 0/0 ratios
             return (y / 16) % 3 == 1 ? uint8_t(9) : uint8_t(x * 3 + y * 17 + (y / 16) * 101);
         }},
        {"edges", [](size_t y, size_t x, std::mt19937_64& g) {
             const size_t k = (x + y / 3) % 40;
             return uint8_t(k < 18 ? 10 : k < 22 ? 10 + (k - 17) * 50 : 250) ^ uint8_t(g() % 2);
         }},
    };
}

std::vector<std::pair<size_t, size_t>> sizes() {
    return {{0, 0},    {1, 1},      {2, 5},      {3, 3},     {5, 2},     {8, 8},      {16, 16},
            {17, 48},  {24, 8},     {33, 65},    {64, 48},   {100, 47},  {255, 300},  {256, 256},
            {257, 263}, {300, 255}, {512, 513},  {1023, 17}, {17, 1023}, {777, 531},  {1920, 1080}};
}

TEST(K2Exact, MatchesLiteralBitForBit) {
    const int64_t targets[] = {HWY_EMU128, HWY_SSE4, HWY_AVX2, HWY_AVX3};
    nrvq::Scratch scratch;
    for (const int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(0);
        if ((hwy::SupportedTargets() & target) == 0) continue;
        hwy::SetSupportedTargetsForTest(target | HWY_EMU128);
        for (const auto& [name, fill] : fills()) {
            for (const auto& [w, h] : sizes()) {
                std::mt19937_64 g(w * 131 + h);
                std::vector<uint8_t> px(w * h + 1);
                for (size_t y = 0; y < h; ++y)
                    for (size_t x = 0; x < w; ++x) px[y * w + x] = fill(y, x, g);
                Image img = makeImage(w, h, px.data());
                SCOPED_TRACE(testing::Message() << name << " " << w << "x" << h << " target " << target);
                EXPECT_EQ(bitsOf(::blur(&img)), bitsOf(nrvq::kernels::blur(&img, scratch)));
                EXPECT_EQ(bitsOf(::blockLoss(&img)), bitsOf(nrvq::kernels::blockLoss(&img, scratch)));
                EXPECT_EQ(bitsOf(::noise(&img)), bitsOf(nrvq::kernels::noise(&img, scratch)));
                EXPECT_EQ(bitsOf(::slice(&img)), bitsOf(nrvq::kernels::slice(&img, scratch)));
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(K2Exact, TexturedFrames) {
    nrvq::Scratch scratch;
    for (int t = 0; t < 4; ++t) {
        clips::Plane plane = clips::texture(1920, 1080, t);
        Image img = makeImage(1920, 1080, plane.samples.data());
        EXPECT_EQ(bitsOf(::blur(&img)), bitsOf(nrvq::kernels::blur(&img, scratch)));
        EXPECT_EQ(bitsOf(::blockLoss(&img)), bitsOf(nrvq::kernels::blockLoss(&img, scratch)));
        EXPECT_EQ(bitsOf(::noise(&img)), bitsOf(nrvq::kernels::noise(&img, scratch)));
        EXPECT_EQ(bitsOf(::slice(&img)), bitsOf(nrvq::kernels::slice(&img, scratch)));
    }
}

}  // namespace
