// The image toolkit: containers, sums, gradients, filters, element-wise
// operations and the size assertions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "metrics/flickering.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"
#include "testing.h"
#include "tools/definitions.h"

using testing_support::makeImage8;
using testing_support::randomImage8;

namespace {

// The literal indicators count on zeroed buffers from the calloc constructors.
TEST(Containers, CallocGivesZeroedSamples) {
    OwnedImage<Image> bytes(callocImage(3, 2));
    OwnedImage<Image32> ints(callocImage32(4, 5));
    OwnedImage<ImageDouble> doubles(callocImageDouble(5, 4));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ints->data[i] + doubles->data[i] + (i < 6 ? bytes->data[i] : 0), 0.0);
    }
}

TEST(Containers, ImpossibleSizesThrowInsteadOfReturningNull) {
    EXPECT_THROW(callocImageDouble(uint64_t{1} << 40, uint64_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(allocImage32(uint64_t{1} << 62, 2), std::bad_alloc);
}

}  // namespace

namespace {

TEST(BlockSums, AddIntoTheGridWrapAndIgnorePartialBlocks) {
    int32_t samples[3] = {INT32_MAX, INT32_MAX, -5};
    const Image32 big = makeImage32(3, 1, samples), empty = makeImage32(0, 3, samples);
    EXPECT_EQ(sumPixels32(&big), int64_t{INT32_MAX} * 2 - 5);  // 64 bits, sign-extended
    EXPECT_EQ(sumPixels32(&empty), 0);
    auto src = makeImage8(20, 20, [](uint64_t r, uint64_t c) { return r < 16 && c < 16 ? 1 : 200; });
    OwnedImage<Image32> dest(callocImage32(2, 2));
    dest->data[1] = 10;
    dest->data[3] = INT32_MAX;
    blockSums(src.get(), dest.get(), 8, 8);
    EXPECT_EQ(dest->data[0], 64);
    EXPECT_EQ(dest->data[1], 74);
    EXPECT_EQ(dest->data[3], INT32_MIN + 63);
}

TEST(CalculateStdDevs, HalfBlackBlockBrightBlockAndSingleSample) {
    // Left 16 x 16 block half 0 and half 255; right block all 255, whose S^2 exceeds 32 bits.
    auto src = makeImage8(32, 16, [](uint64_t r, uint64_t c) { return c >= 16 || r >= 8 ? 255 : 0; });
    OwnedImage<Image32> sums(callocImage32(2, 1)), squares(callocImage32(2, 1));
    OwnedImage<ImageDouble> devs(callocImageDouble(2, 1));
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 16, 16);
    EXPECT_EQ(devs->data[0], std::sqrt(16320.0));
    EXPECT_EQ(devs->data[1], 0.0);
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 16, 16);
    EXPECT_EQ(sums->data[0], 2 * 128 * 255);  // accumulates
    EXPECT_EQ(squares->data[1], 2 * 256 * 255 * 255);
    calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 1, 1);
    EXPECT_TRUE(std::isnan(devs->data[1]));
}

TEST(CalculateStdDevs, AgreesWithTwoPassDeviationOnRandomImages) {
    for (uint64_t seed = 1; seed <= 5; ++seed) {
        auto src = testing_support::randomImage8(43, 27, seed);
        OwnedImage<Image32> sums(callocImage32(5, 3)), squares(callocImage32(5, 3));
        OwnedImage<ImageDouble> devs(callocImageDouble(5, 3));
        calculateStdDevs(src.get(), sums.get(), squares.get(), devs.get(), 8, 8);
        for (uint64_t b = 0; b < 15; ++b) {
            const auto v = [&](uint64_t i) { return double(src->data[(b / 5 * 8 + i / 8) * 43 + b % 5 * 8 + i % 8]); };
            double mean = 0.0, dev = 0.0;
            for (uint64_t i = 0; i < 64; ++i) mean += v(i) / 64;
            for (uint64_t i = 0; i < 64; ++i) dev += (v(i) - mean) * (v(i) - mean);
            EXPECT_NEAR(devs->data[b], std::sqrt(dev / 63), 1e-9);
        }
    }
}

}  // namespace

namespace {

// On the ramp p(y, x) = x + 3y every difference is known and the
// horizontal and vertical ones differ.
TEST(Gradient, RampGivesConstantDifferencesAndZeroFirstRowAndColumn) {
    auto src = makeImage8(6, 5, [](uint64_t r, uint64_t c) { return int(c + 3 * r); });
    OwnedImage<Image32> gx(allocImage32(6, 5)), gy(allocImage32(6, 5)), rx(allocImage32(6, 5)), ry(allocImage32(6, 5));
    gradient(src.get(), gx.get(), gy.get());
    roberts(src.get(), rx.get(), ry.get());
    for (uint64_t i = 0; i < 30; ++i) {
        const bool inner = i >= 6 && i % 6 != 0;
        EXPECT_EQ(gx->data[i], inner ? 1 : 0);
        EXPECT_EQ(gy->data[i], inner ? 3 : 0);
        EXPECT_EQ(rx->data[i], inner ? -4 : 0);  // upper-left minus current
        EXPECT_EQ(ry->data[i], inner ? -2 : 0);  // upper minus left
    }
    addSquares32(gx.get(), gy.get(), rx.get());  // overwrites
    EXPECT_EQ(rx->data[7], 10);
}

TEST(RobertsSkip, EvaluatesOnlyTheSelectedRowsOrColumns) {
    auto src = makeImage8(32, 32, [](uint64_t r, uint64_t c) { return int((r * r * 7 + c * 3) % 256); });
    const auto p = [&](uint64_t r, uint64_t c) { return int32_t{src->data[r * 32 + c]}; };
    OwnedImage<Image32> hx(callocImage32(32, 2)), hy(callocImage32(32, 2));
    OwnedImage<Image32> vx(callocImage32(2, 32)), vy(callocImage32(2, 32));
    robertsSkip(src.get(), hx.get(), hy.get(), 1, 16);
    robertsSkip(src.get(), vx.get(), vy.get(), 16, 1);
    for (uint64_t k = 1; k < 32; ++k) {
        EXPECT_EQ(hx->data[32 + k], p(15, k - 1) - p(16, k));
        EXPECT_EQ(hy->data[32 + k], p(15, k) - p(16, k - 1));
        EXPECT_EQ(vx->data[k * 2 + 1], p(k - 1, 15) - p(k, 16));
        EXPECT_EQ(vy->data[k * 2 + 1], p(k - 1, 16) - p(k, 15));
    }
}

}  // namespace

namespace {

constexpr double kUnwritten = -7.0;

OwnedImage<ImageDouble> filled(uint64_t w, uint64_t h, double value) {
    OwnedImage<ImageDouble> image(callocImageDouble(w, h));
    std::fill(image->data, image->data + w * h, value);
    return image;
}

TEST(Filter, FillsOnlyInnerSamplesWhoseWindowLiesInTheSource) {
    // Five 8 x 8 blocks; the last one reaches past the right edge, and the
    // second source is shorter than a block.
    for (const auto& [side, height] : {std::pair<uint64_t, uint64_t>{3, 10}, {5, 10}, {3, 6}}) {
        auto src = randomImage8(36, height, side * height);
        auto kernel = filled(side, side, 0.0);
        for (uint64_t i = 0; i < side * side; ++i) kernel->data[i] = 0.1 * double(i + 1) + 1e-9;  // not mirrored
        auto dest = filled(36, height, kUnwritten);
        ASSERT_EQ(filter(src.get(), dest.get(), kernel.get(), 5, 8, 8), 0);
        const uint64_t half = side / 2;
        for (uint64_t y = 0; y < height; ++y) {
            for (uint64_t c = 0; c < 36; ++c) {
                const bool inner = y >= half && y < 8 - half && y + half < height && c % 8 >= half &&
                                   c % 8 < 8 - half && c + half < 36;
                double acc = 0.0;  // the filter's order of multiply-adds, so equal to the last bit
                for (uint64_t i = 0; inner && i < side; ++i) {
                    for (uint64_t j = 0; j < side; ++j) {
                        acc = src->data[(y - half + i) * 36 + c - half + j] * kernel->data[i * side + j] + acc;
                    }
                }
                EXPECT_EQ(dest->data[y * 36 + c], inner ? acc : kUnwritten);
            }
        }
    }
}

TEST(Filter, ReportsSizeProblemsBeforeLookingAtTheBlockCount) {
    auto src = randomImage8(24, 8, 1), flat = randomImage8(24, 2, 2);
    auto kernel = filled(3, 3, 1.0), wide = filled(9, 3, 1.0);
    auto shorter = filled(24, 7, kUnwritten), flatDest = filled(24, 2, kUnwritten), dest = filled(24, 8, kUnwritten);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter(src.get(), shorter.get(), kernel.get(), 0, 8, 8), -1);
    EXPECT_EQ(filter(flat.get(), flatDest.get(), kernel.get(), 3, 8, 8), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Source and destination images do not match with their size!\n"
              "Source image is to small for that kernel!\n");
    EXPECT_EQ(filter(src.get(), dest.get(), kernel.get(), 0, 8, 8), 0);
    EXPECT_EQ(filter(src.get(), dest.get(), wide.get(), 3, 8, 8), 0);
    for (uint64_t i = 0; i < 24 * 8; ++i) EXPECT_EQ(dest->data[i], kUnwritten);
}

}  // namespace

namespace {

template <typename T>
std::vector<int> samples(const T* data, uint64_t n) {
    return std::vector<int>(data, data + n);
}

TEST(PixelSums, WrapModuloTwoToThe32InEveryOrder) {
    auto image = makeImage8(4096, 4113);  // 255 * samples exceeds 2^32
    std::fill(image->data, image->data + 4096 * 4113, 255);
    const uint32_t expected = static_cast<uint32_t>(uint64_t{4096} * 4113 * 255);
    EXPECT_EQ(sumPixels(image.get()), expected);
    EXPECT_EQ(sumH(image->data, 4096, 4113), expected);
    EXPECT_EQ(sumV(image->data, 4096, 4113), expected);
    EXPECT_EQ(sumH(image->data, -3, 4), 0u);
}

TEST(SummedArea, BlockSumsAgreeThreeWays) {
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        auto src = randomImage8(37, 29, seed);  // partial blocks at the right and bottom
        OwnedImage<Image32> direct(callocImage32(4, 7)), fromTable(allocImage32(4, 7));
        OwnedImage<Image32> fromBytes(allocImage32(4, 7)), table(allocImage32(37, 29));
        OwnedImage<Image> lowBytes(allocImage(37, 29));
        blockSums(src.get(), direct.get(), 8, 4);
        integrate(src.get(), table.get());
        blockSumsInteg(table.get(), fromTable.get(), 8, 4);
        convI32toU8(table.get(), lowBytes.get());  // an 8-bit table still gives the sums modulo 256
        blockSumsInteg2(lowBytes.get(), fromBytes.get(), 8, 4);
        for (int i = 0; i < 28; ++i) {
            EXPECT_EQ(fromTable->data[i], direct->data[i]);
            EXPECT_EQ(fromBytes->data[i] & 0xFF, direct->data[i] & 0xFF);
        }
    }
}

TEST(Sobel, MatchesDirectEvaluationForAnySize) {
    const std::vector<std::pair<uint64_t, uint64_t>> sizes{{19, 11}, {3, 3}, {2, 2}, {5, 1}, {1, 5}, {0, 0}, {0, 4}};
    for (const auto& [w, h] : sizes) {
        auto src = randomImage8(w, h, w * 100 + h);
        OwnedImage<Image32> dx(allocImage32(w, h)), dy(allocImage32(w, h));
        auto bx = makeImage8(w, h), by = makeImage8(w, h);
        std::fill(dx->data, dx->data + w * h, 77);  // the frame must be cleared
        std::fill(by->data, by->data + w * h, 77);
        const auto p = [&](uint64_t y, uint64_t x) { return int32_t{src->data[y * w + x]}; };
        const double result = sobel(src.get(), dx.get(), dy.get());
        const int32_t result2 = sobel2(src.get(), bx.get(), by.get());
        double total = 0.0;
        int32_t total2 = 0;
        for (uint64_t y = 0; y < h; ++y) {
            for (uint64_t x = 0; x < w; ++x) {
                int32_t gx = 0, gy = 0;
                if (y > 0 && x > 0 && y + 1 < h && x + 1 < w) {
                    gx = p(y - 1, x + 1) + 2 * p(y, x + 1) + p(y + 1, x + 1) - p(y - 1, x - 1) - 2 * p(y, x - 1) - p(y + 1, x - 1);
                    gy = p(y + 1, x - 1) + 2 * p(y + 1, x) + p(y + 1, x + 1) - p(y - 1, x - 1) - 2 * p(y - 1, x) - p(y - 1, x + 1);
                    total += double(gx) * gx + double(gy) * gy;
                    total2 = int32_t(total2 + std::sqrt(double((gx & 0xFF) * (gx & 0xFF) + (gy & 0xFF) * (gy & 0xFF))));
                }
                EXPECT_EQ(dx->data[y * w + x], gx);
                EXPECT_EQ(dy->data[y * w + x], gy);
                EXPECT_EQ(by->data[y * w + x], gy & 0xFF);
            }
        }
        EXPECT_EQ(result, std::sqrt(total));
        EXPECT_EQ(result2, total2);
    }
}

TEST(ElementWise, AbsGradientAndConversionsWrap) {
    auto src = makeImage8(3, 2, {0, 0, 0, 0, 5, 9});
    OwnedImage<Image32> dx(allocImage32(3, 2)), dy(allocImage32(3, 2));
    absGradient(src.get(), dx.get(), dy.get());
    EXPECT_EQ(samples(dx->data, 6), (std::vector<int>{0, 0, 0, 0, 5, 4}));
    EXPECT_EQ(samples(dy->data, 6), (std::vector<int>{0, 0, 0, 0, 5, 9}));
    int32_t ints[4] = {-1, 255, 256, 300};
    const Image32 i32 = makeImage32(4, 1, ints);
    auto narrow = makeImage8(2, 2);
    convI32toU8(&i32, narrow.get());
    EXPECT_EQ(samples(narrow->data, 4), (std::vector<int>{255, 255, 0, 44}));
    auto wide = makeImage8(4, 2, {1, 2, 3, 4, 250, 6, 7, 8});
    OwnedImage<Image32> tall(allocImage32(2, 4));
    convU8toI32(wide.get(), tall.get());
    EXPECT_EQ(samples(tall->data, 8), (std::vector<int>{1, 2, 3, 4, 250, 6, 7, 8}));
}

TEST(SizeAssertionsDeathTest, NameTheExpression) {
    auto src = makeImage8(4, 2), shortByte = makeImage8(4, 1);
    OwnedImage<Image32> ok(callocImage32(4, 2)), narrow(callocImage32(3, 2)), square(callocImage32(3, 3));
    OwnedImage<ImageDouble> d8(callocImageDouble(8, 1)), d9(callocImageDouble(3, 3));
    const char* xText = "src->h == destX->h && src->w == destX->w";
    const char* yText = "src->h == destY->h && src->w == destY->w";
    EXPECT_DEATH(gradient(src.get(), narrow.get(), ok.get()), xText);
    EXPECT_DEATH(roberts(src.get(), ok.get(), narrow.get()), yText);
    EXPECT_DEATH(sobel(src.get(), narrow.get(), ok.get()), xText);
    EXPECT_DEATH(sobel2(src.get(), src.get(), shortByte.get()), yText);
    EXPECT_DEATH(absGradient(src.get(), narrow.get(), narrow.get()), xText);
    EXPECT_DEATH(convU8toI32(src.get(), square.get()), "convU8toI32.*src->w \\* src->h == dest->w \\*dest->h");
    EXPECT_DEATH(convI32toU8(square.get(), src.get()), "convI32toU8.*src->w \\* src->h == dest->w \\*dest->h");
    EXPECT_DEATH(imageSqrt(d8.get(), d9.get()), "imageSqrt.*src->w \\* src->h == dest->w \\*dest->h");
}

}  // namespace

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
