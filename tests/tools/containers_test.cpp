#include <gtest/gtest.h>

#include "tools/definitions.h"

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
