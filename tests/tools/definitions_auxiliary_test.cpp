#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "testing.h"
#include "tools/definitions.h"

using testing_support::makeImage8;
using testing_support::randomImage8;

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

TEST(PrintRange, RunsOfSamplesFromTheStartOfTheBuffer) {
    auto image = makeImage8(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    int32_t ints[2] = {-5, 1234};
    const Image32 i32 = makeImage32(2, 1, ints);
    testing::internal::CaptureStdout();
    printRange(image.get(), 0, 2, 0, 1);
    printRange(image.get(), 3, 1, 5, 6);  // no samples, two newlines
    printRange(image.get(), 0, 0, 1, 0);  // nothing at all
    printRange(image.get(), 0, 5, 0, 1);  // stops at the end of the image
    printRange32(&i32, 7, 8, 2, 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "001 002 003 \n004 005 006 \n\n\n001 002 003 004 005 006 \n007 008 \n-5  1234  \n");
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
