#include <gtest/gtest.h>

#include "tools/definitions.h"

namespace {

TEST(Containers, CallocGivesZeroedSamplesAtRowMajorPositions) {
    Image image = callocImage(3, 2);
    EXPECT_EQ(image.w, 3u);
    EXPECT_EQ(image.h, 2u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(image.data[i], 0);
    }
    image.data[1 * image.w + 1] = 7;  // column 1 of row 1
    EXPECT_EQ(image.data[4], 7);
    freeImage(&image);
    EXPECT_EQ(image.w, 3u);  // freeing leaves the size as it was
    EXPECT_EQ(image.h, 2u);

    Image32 ints = callocImage32(4, 5);
    ImageDouble doubles = callocImageDouble(5, 4);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ints.data[i], 0);
        EXPECT_EQ(doubles.data[i], 0.0);
    }
    freeImage32(&ints);
    freeImageDouble(&doubles);
}

TEST(Containers, MakeWrapsTheCallersBuffer) {
    uint8_t bytes[4] = {1, 2, 3, 4};
    int32_t ints[2] = {-1, 5};
    double doubles[3] = {0.5, 1.5, 2.5};
    const Image image = makeImage(2, 2, bytes);
    const Image32 image32 = makeImage32(2, 1, ints);
    const ImageDouble imageDouble = makeImageDouble(1, 3, doubles);
    EXPECT_EQ(image.data, bytes);
    EXPECT_EQ(image32.data, ints);
    EXPECT_EQ(imageDouble.data, doubles);
    EXPECT_EQ(imageDouble.h, 3u);
}

TEST(Containers, EmptyImagesAllocateAndReleaseHarmlessly) {
    Image empty = callocImage(0, 5);
    Image32 empty32 = allocImage32(7, 0);
    ImageDouble emptyDouble = allocImageDouble(0, 0);
    EXPECT_EQ(empty.w, 0u);
    EXPECT_EQ(empty32.h, 0u);
    freeImage(&empty);
    freeImage32(&empty32);
    freeImageDouble(&emptyDouble);
}

TEST(Containers, ImpossibleSizesThrowInsteadOfReturningNull) {
    EXPECT_THROW(callocImageDouble(uint64_t{1} << 40, uint64_t{1} << 40), std::bad_alloc);
    EXPECT_THROW(allocImage32(uint64_t{1} << 62, 2), std::bad_alloc);
}

TEST(Containers, OwnedImageReleasesItsBuffer) {
    OwnedImage<Image32> owned(callocImage32(8, 8));
    owned->data[63] = 42;
    EXPECT_EQ((*owned).data[63], 42);
    EXPECT_EQ(owned.get()->w, 8u);
}

}  // namespace
