#include <gtest/gtest.h>

#include "testing.h"
#include "tools/definitions.h"

using testing_support::randomImage8;

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
