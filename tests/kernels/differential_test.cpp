// Every fast kernel against its literal indicator, bit for bit (not-a-number
// included), at every instruction-set level this processor runs, over
// adversarial fills and every small frame size plus odd large ones; the
// temporal kernels over sequences of frames, with their state compared
// after every frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/analyzer.h"
#include "engine/registry.h"
#include "kernels/dispatch.h"
#include "kernels/fills.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "metrics/blackout.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/interlace.h"
#include "metrics/letterbox.h"
#include "metrics/noise.h"
#include "metrics/pillarbox.h"
#include "metrics/slice.h"
#include "metrics/spatialActivity.h"

namespace {

using kernel_testing::Fill;
using nrvq::Scratch;
using nrvq::kernels::SimdLevel;

uint64_t bits(double v) {
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The single-frame rows of the indicator table, whose literal and fast
// entry points the analysis calls.
const std::vector<const nrvq::IndicatorInfo*>& singleFrameKernels() {
    static const std::vector<const nrvq::IndicatorInfo*> rows = [] {
        std::vector<const nrvq::IndicatorInfo*> all;
        for (const nrvq::IndicatorInfo& row : nrvq::kIndicators) {
            if (row.kind == nrvq::IndicatorKind::SingleFrame) all.push_back(&row);
        }
        return all;
    }();
    return rows;
}

std::string where(uint64_t seed, uint64_t w, uint64_t h, std::string_view fill, SimdLevel level) {
    return "seed " + std::to_string(seed) + ", " + std::to_string(w) + " x " + std::to_string(h) + ", fill " +
           std::string(fill) + ", level " + std::string(nrvq::kernels::simdLevelName(level));
}

TEST(KernelDispatch, LevelsRunAndRestrict) {
    const auto levels = nrvq::kernels::availableSimdLevels();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.front(), SimdLevel::scalar);
    for (const SimdLevel level : {SimdLevel::scalar, SimdLevel::sse4, SimdLevel::avx2, SimdLevel::avx512}) {
        const bool available = std::find(levels.begin(), levels.end(), level) != levels.end();
        EXPECT_EQ(nrvq::kernels::setSimdLevel(level), available) << nrvq::kernels::simdLevelName(level);
        if (available) {
            EXPECT_EQ(nrvq::kernels::activeSimdLevel(), level);
        }
    }
    EXPECT_TRUE(nrvq::kernels::setSimdLevel(SimdLevel::best));
    EXPECT_EQ(nrvq::kernels::activeSimdLevel(), levels.back());
    EXPECT_EQ(nrvq::kernels::parseSimdLevel("avx2"), SimdLevel::avx2);
    EXPECT_EQ(nrvq::kernels::parseSimdLevel("mmx"), std::nullopt);
}

// Compares every single-frame kernel with its literal version on one frame
// at every level, the kernels sharing the frame's statistics as in a run.
void compareSingleFrame(uint64_t w, uint64_t h, Fill fill, uint64_t seed, Scratch& scratch) {
    const auto frame = kernel_testing::filledImage(w, h, fill, seed);
    std::vector<uint64_t> expected;
    for (const nrvq::IndicatorInfo* row : singleFrameKernels()) {
        expected.push_back(bits(row->literal.frame(frame.get(), scratch)));
    }
    // Another frame first, with the scalar kernels, which write every
    // element: a buffer element that a level fails to write then holds a
    // wrong value rather than the last level's right one.
    const auto decoy = kernel_testing::filledImage(w, h, Fill::random, ~seed);
    kernel_testing::forEachSimdLevel([&](SimdLevel level) {
        nrvq::kernels::setSimdLevel(SimdLevel::scalar);
        scratch.beginFrame();
        for (const nrvq::IndicatorInfo* row : singleFrameKernels()) {
            row->fast.frame(decoy.get(), scratch);
        }
        nrvq::kernels::setSimdLevel(level);
        scratch.beginFrame();
        for (size_t i = 0; i < singleFrameKernels().size(); ++i) {
            const nrvq::IndicatorInfo& row = *singleFrameKernels()[i];
            const double got = row.fast.frame(frame.get(), scratch);
            ASSERT_EQ(bits(got), expected[i]) << row.key << " gave " << got << " at "
                                              << where(seed, w, h, kernel_testing::fillName(fill), level);
        }
    });
}

constexpr uint64_t kLargeSamples = 100000;

TEST(KernelDifferential, SingleFrameKernelsMatchTheLiteralOnSmallFrames) {
    Scratch scratch;  // shared by all sizes, as in a run: buffers grow and are reused
    uint64_t seed = 1;
    for (const auto& [w, h] : kernel_testing::frameSizes()) {
        if (w * h <= kLargeSamples) {
            for (const Fill fill : kernel_testing::allFills()) {
                compareSingleFrame(w, h, fill, ++seed, scratch);
            }
        }
    }
}

TEST(KernelDifferential, SingleFrameKernelsMatchTheLiteralOnLargeFrames) {
    Scratch scratch;
    uint64_t seed = 1000;
    for (const auto& [w, h] : kernel_testing::frameSizes()) {
        if (w * h <= kLargeSamples) {
            continue;
        }
        // Full HD takes random samples and the largest sums (all 255); the
        // literal versions are slow there, the more so under the sanitizers.
        const bool huge = w * h > 1000000;
        for (const Fill fill : kernel_testing::allFills()) {
            if (!huge || fill == Fill::random || (!kernel_testing::sanitized() && fill == Fill::full)) {
                compareSingleFrame(w, h, fill, ++seed, scratch);
            }
        }
    }
}

// The frame sums against their definition, which the indicators only see
// through thresholds and ratios. The 0/255 checkerboard has the largest
// horizontal terms and the most negative products of vertical differences
// (its Roberts energy is 0); the widths leave every remainder of a vector.
TEST(KernelDifferential, FrameSumsMatchTheirDefinition) {
    const std::pair<uint64_t, uint64_t> sizes[] = {{3, 3}, {40, 17}, {71, 9}, {257, 263}, {8300, 4}, {1023, 300}};
    for (const auto& [w, h] : sizes) {
        for (const int fill : {0, 1, 2, 3}) {
            auto frame = kernel_testing::filledImage(w, h, fill == 3 ? Fill::sobelPeak : Fill::random, w + h);
            for (uint64_t i = 0; fill < 3 && i < w * h; ++i) {
                const uint64_t x = i % w, y = i / w;
                frame->data[i] = fill == 0 ? ((x + y) % 2 == 0 ? 255 : 0) : fill == 1 ? (x % 2 == 0 ? 255 : 0)
                                                                              : frame->data[i];
            }
            const auto at = [&](uint64_t x, uint64_t y) { return int64_t{frame->data[y * w + x]}; };
            uint64_t sobel = 0, horizontal = 0, roberts = 0;
            for (uint64_t y = 1; y < h; ++y) {
                for (uint64_t x = 1; x < w; ++x) {
                    const int64_t g = at(x, y) - at(x - 1, y);
                    const int64_t d1 = at(x - 1, y - 1) - at(x, y), d2 = at(x, y - 1) - at(x - 1, y);
                    horizontal += static_cast<uint64_t>(g * g);
                    roberts += static_cast<uint64_t>(d1 * d1 + d2 * d2);
                    if (y + 1 < h && x + 1 < w) {
                        const int64_t gx = at(x + 1, y - 1) + 2 * at(x + 1, y) + at(x + 1, y + 1) - at(x - 1, y - 1) -
                                           2 * at(x - 1, y) - at(x - 1, y + 1);
                        const int64_t gy = at(x - 1, y + 1) + 2 * at(x, y + 1) + at(x + 1, y + 1) - at(x - 1, y - 1) -
                                           2 * at(x, y - 1) - at(x + 1, y - 1);
                        sobel += static_cast<uint64_t>(gx * gx + gy * gy);
                    }
                }
            }
            kernel_testing::forEachSimdLevel([&](SimdLevel level) {
                Scratch scratch;
                const nrvq::kernels::FrameSums sums = nrvq::kernels::frameSums(frame.get(), scratch);
                const std::string where = std::to_string(w) + " x " + std::to_string(h) + ", fill " +
                                          std::to_string(fill) + ", " +
                                          std::string(nrvq::kernels::simdLevelName(level));
                EXPECT_EQ(sums.sobel, sobel) << where;
                EXPECT_EQ(sums.horizontal, horizontal) << where;
                EXPECT_EQ(sums.roberts, roberts) << where;
            });
        }
    }
}

// What the bit comparison cannot see: the literal no-value and
// not-a-number results follow the frame size alone.
TEST(KernelDifferential, LiteralEdgeResultsFollowTheFrameSize) {
    for (const auto& [w, h] : kernel_testing::frameSizes()) {
        if (w * h > 100000) {
            continue;
        }
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        const auto frame = kernel_testing::filledImage(w, h, Fill::random, w * 1000 + h);
        EXPECT_EQ(blockLoss(frame.get()) == -1.0, w < 256 || h < 256);
        EXPECT_EQ(slice(frame.get()) == -1.0, w < 17 || h < 48);
        EXPECT_EQ(std::isnan(contrastRMS(frame.get())), w * h < 2);
        EXPECT_EQ(std::isnan(interlace(frame.get())), w < 4 || h < 4);
        EXPECT_EQ(std::isnan(letterbox(frame.get())), h < 2);
        EXPECT_EQ(std::isnan(pillarbox(frame.get())), w < 2);
        EXPECT_TRUE(!blackout(frame.get()) || (w >= 8 && h >= 8));
        EXPECT_TRUE(noise(frame.get()) != 0.0 || w < 8 || h < 8);
    }
}

// 32-bit sums that wrap. Blockiness keeps running sums: 4-sample stripes
// put a 255 step at every vertical border, and over 8192 x 9000 samples the
// running sum passes 2^31; one changed sample adds an inside step. The
// contrast's sum of all samples passes 2^32 on the same frame.
TEST(KernelDifferential, ThirtyTwoBitSumsWrapOnLargeFrames) {
    auto frame = kernel_testing::filledImage(8192, 9000, Fill::stripesV, 0);
    frame->data[6] = 0;
    const uint64_t expectedBlockiness = bits(blockiness(frame.get()));
    const uint64_t expectedContrast = bits(contrastRMS(frame.get()));
    Scratch scratch;
    kernel_testing::forEachSimdLevel([&](SimdLevel level) {
        EXPECT_EQ(bits(nrvq::kernels::blockiness(frame.get(), scratch)), expectedBlockiness)
            << nrvq::kernels::simdLevelName(level);
        EXPECT_EQ(bits(nrvq::kernels::contrastRMS(frame.get(), scratch)), expectedContrast)
            << nrvq::kernels::simdLevelName(level);
    });
}

// A sequence of frames: each one a repeat of the previous one, the
// opposite extreme (all 255 against all 0, the largest differences), a new
// random frame, or the previous one with a few random samples changed.
enum class Motion { repeated, alternating, random, sparse };

const char* motionName(Motion m) {
    switch (m) {
        case Motion::repeated: return "repeated";
        case Motion::alternating: return "alternating";
        case Motion::random: return "random";
        case Motion::sparse: return "sparse";
    }
    return "?";
}

void nextFrame(Image* frame, const Image* previous, Motion motion, uint64_t index, std::mt19937_64& random) {
    const uint64_t n = frame->w * frame->h;
    if (n == 0) {
        return;
    }
    switch (motion) {
        case Motion::repeated:
            std::memcpy(frame->data, previous->data, n);
            break;
        case Motion::alternating:
            kernel_testing::fillImage(frame, index % 2 == 0 ? Fill::full : Fill::zeros, 7);
            break;
        case Motion::random:
            kernel_testing::fillImage(frame, Fill::random, random());
            break;
        case Motion::sparse:
            std::memcpy(frame->data, previous->data, n);
            for (uint64_t k = 0; k < 1 + n / 300; ++k) {
                frame->data[random() % n] ^= static_cast<uint8_t>(1 + random() % 255);
            }
            break;
    }
}

// The temporal columns of the table through the ordered state as a run
// drives it, literal against fast, the fast pair steps done ahead by a
// worker on odd frames and by the state itself on even ones; the state
// carried from frame to frame is compared after every frame.
TEST(KernelDifferential, TemporalKernelsMatchTheLiteralOverSequences) {
    const std::pair<uint64_t, uint64_t> sizes[] = {{0, 0},   {7, 9},   {8, 8},     {17, 23},  {48, 40},
                                                   {48, 48}, {64, 72}, {257, 263}, {1023, 17}, {640, 480}};
    uint32_t temporal = 0;
    for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
        temporal |= nrvq::kIndicators[c].kind == nrvq::IndicatorKind::SingleFrame ? 0u : 1u << c;
    }
    constexpr int kFrames = 19;
    uint64_t seed = 100;
    for (const auto& [w, h] : sizes) {
        for (const Motion motion : {Motion::repeated, Motion::alternating, Motion::random, Motion::sparse}) {
            if (w * h > 100000 && motion != Motion::alternating) {
                continue;  // the large size is there for the largest differences
            }
            kernel_testing::forEachSimdLevel([&](SimdLevel level) {
                ++seed;
                std::mt19937_64 random(seed);
                auto previous = kernel_testing::filledImage(w, h, Fill::random, seed);
                auto current = kernel_testing::filledImage(w, h, Fill::zeros, seed);
                const auto iw = static_cast<int32_t>(w), ih = static_cast<int32_t>(h);
                // Every column in the workers, so that the fast one walks each frame
                // jointly (the walk is what takes the frame before along).
                nrvq::FrameWorker literalWorker(iw, ih, true), fastWorker(iw, ih, false);
                nrvq::TemporalState literal(iw, ih, 10.0, true, temporal), fast(iw, ih, 10.0, false, temporal);
                nrvq::TemporalInputs ahead(iw, ih);
                nrvq::FrameRecord expected, got;
                nrvq::Timings timings;
                const uint64_t blocks = (w / 8) * (h / 8);
                Scratch scratch;
                std::vector<uint8_t> marks(blocks);
                std::vector<uint8_t> walkMarks(blocks);
                for (int f = 0; f < kFrames; ++f) {
                    nextFrame(current.get(), previous.get(), motion, static_cast<uint64_t>(f), random);
                    const std::string at = where(seed, w, h, motionName(motion), level) + ", frame " + std::to_string(f);
                    literalWorker.analyze(current.get(), expected, timings);
                    // Odd frames as a run's workers take them: the frame before goes
                    // into the frame's walk, and the pair steps complete the inputs.
                    const bool odd = f % 2 == 1;
                    fastWorker.analyze(current.get(), got, timings, odd ? previous.get() : nullptr,
                                       odd ? &ahead : nullptr);
                    literal.analyze(current.get(), previous.get(), expected, timings);
                    if (odd) {
                        fastWorker.analyzeTemporal(current.get(), previous.get(), ahead, timings);
                    }
                    fast.analyze(current.get(), previous.get(), got, timings, f % 2 == 1 ? &ahead : nullptr);
                    for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
                        ASSERT_EQ(bits(got.values[c]), bits(expected.values[c]))
                            << nrvq::kIndicators[c].key << " " << got.values[c] << " at " << at;
                    }
                    const nrvq::TemporalMemory& e = literal.memory();
                    const nrvq::TemporalMemory& g = fast.memory();
                    ASSERT_EQ(g.flickering.frameCount, e.flickering.frameCount) << at;
                    ASSERT_EQ(g.freezing.freezingTemp, e.freezing.freezingTemp) << at;
                    ASSERT_TRUE(blocks == 0 ||
                                (std::memcmp(g.transitionCounts->data, e.transitionCounts->data, blocks) == 0 &&
                                 std::memcmp(g.blockStates->data, e.blockStates->data, blocks) == 0))
                        << "flickering's block state at " << at;
                    // The run takes both from one walk; each alone must agree with it.
                    nrvq::kernels::changedBlocks(current.get(), previous.get(), w / 8, h / 8, marks.data());
                    ASSERT_EQ(bits(nrvq::kernels::changedBlocksAndActivity(current.get(), previous.get(),
                                                                           walkMarks.data())),
                              bits(nrvq::kernels::temporalActivity(current.get(), previous.get(), scratch)))
                        << "changedBlocksAndActivity at " << at;
                    ASSERT_EQ(walkMarks, marks) << "changedBlocksAndActivity at " << at;
                    std::swap(current->data, previous->data);
                }
            });
        }
    }
}

}  // namespace
