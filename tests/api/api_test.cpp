// The public interface: pushed planes of any layout and whole files give the
// same values, keys address the table's columns, and bad requests fail with
// exceptions instead of undefined behaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "clips/clip.h"
#include "engine/registry.h"
#include "nrvq/nrvq.h"
#include "testing.h"

namespace {

using testing_support::TempDir;

// Equal values, NaN included, bit for bit.
void expectSameValues(const nrvq::FrameResult& a, const nrvq::FrameResult& b, const std::string& where) {
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        EXPECT_EQ(std::memcmp(&a.values()[c], &b.values()[c], sizeof(double)), 0)
            << where << ", " << nrvq::indicatorKeys()[c] << ": " << a[c] << " vs " << b[c];
        EXPECT_EQ(a.measured(c), b.measured(c)) << where << ", " << nrvq::indicatorKeys()[c];
    }
}

TEST(Api, PushedPlanesOfAnyLayoutMatchTheFile) {
    const TempDir dir;
    for (const auto& [w, h] : {std::pair{37, 29}, std::pair{64, 48}}) {
        const int frames = 6, start = 1;
        std::vector<clips::Plane> planes;
        for (int t = 0; t < frames; ++t) planes.push_back(clips::texture(w, h, t, t % 3 == 0 ? 0 : 3, 1));
        testing_support::writeRawClip(dir / "clip.yuv", planes);
        const nrvq::FileResults file = nrvq::analyzeFile(
            (dir / "clip.yuv").string(), {.width = w, .height = h, .fps = 30.0, .start = start, .threads = 3});
        ASSERT_EQ(file.size(), size_t(frames - start));
        EXPECT_EQ(file.startFrame(), start);

        // Rows packed, padded, and stored bottom-up (negative stride).
        for (const ptrdiff_t stride : {ptrdiff_t{w}, ptrdiff_t{w} + 13, -ptrdiff_t{w}}) {
            for (const bool reference : {false, true}) {
                nrvq::Analysis analysis(w, h, 30.0, {.threads = 1, .reference = reference});
                std::vector<uint8_t> buffer(static_cast<size_t>((w + 13) * h), 0xEE);
                uint8_t* const luma = stride < 0 ? &buffer[static_cast<size_t>((h - 1) * w)] : buffer.data();
                for (int t = start; t < frames; ++t) {
                    for (int y = 0; y < h; ++y) {
                        std::memcpy(luma + y * stride, &planes[t].samples[static_cast<size_t>(y * w)], w);
                    }
                    const nrvq::FrameResult pushed = analysis.push(luma, stride);
                    const nrvq::FrameResult read = file[t - start];
                    EXPECT_EQ(pushed.index(), t - start);
                    EXPECT_EQ(read.index(), t);
                    EXPECT_DOUBLE_EQ(read.seconds(), t / 30.0);
                    EXPECT_DOUBLE_EQ(pushed.seconds(), (t - start) / 30.0);
                    expectSameValues(pushed, read,
                                     std::to_string(w) + " wide, frame " + std::to_string(t) + ", stride " +
                                         std::to_string(stride));
                }
                EXPECT_EQ(analysis.frames(), frames - start);
            }
        }
    }
}

TEST(Api, KeysAddressTheTableAndMeasuredFollowsTheFirstFrame) {
    const auto keys = nrvq::indicatorKeys();
    for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
        EXPECT_EQ(keys[c], nrvq::kIndicators[c].key);
        EXPECT_EQ(nrvq::indicatorIndex(keys[c]), c);
    }
    EXPECT_THROW(nrvq::indicatorIndex("Blur"), std::out_of_range);

    const clips::Plane plane = clips::texture(40, 24, 0);
    nrvq::Analysis analysis(40, 24, 25.0);
    for (int t = 0; t < 2; ++t) {
        const nrvq::FrameResult r = analysis.push(plane.samples.data(), 40);
        EXPECT_EQ(r.hasPrevious(), t == 1);
        for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
            const double byKey = r[keys[c]], byColumn = r[c];
            EXPECT_EQ(std::memcmp(&byKey, &byColumn, sizeof(double)), 0);
            EXPECT_EQ(r.measured(keys[c]), r.measured(c));
            if (!nrvq::kIndicators[c].measuredOnFirstFrame) {
                EXPECT_EQ(r.measured(c), t == 1 && (c != nrvq::kFlickering)) << keys[c];
            }
        }
        EXPECT_FALSE(r.measured("slice") || r.measured("block_loss"));  // -1: too small a frame
        EXPECT_THROW(r["nope"], std::out_of_range);
        EXPECT_THROW(r.measured(nrvq::indicatorCount), std::out_of_range);
    }
}

TEST(Api, BadRequestsThrow) {
    EXPECT_THROW(nrvq::Analysis(0, 8, 25.0), std::invalid_argument);
    EXPECT_THROW(nrvq::Analysis(8, -1, 25.0), std::invalid_argument);
    EXPECT_THROW(nrvq::Analysis(8, 8, 0.0), std::invalid_argument);
    EXPECT_THROW(nrvq::Analysis(8, 8, NAN), std::invalid_argument);
    EXPECT_THROW(nrvq::Analysis(46341, 46341, 25.0), std::invalid_argument);  // refused before allocating
    nrvq::Analysis analysis(8, 8, 25.0);
    EXPECT_THROW(analysis.push(nullptr, 8), std::invalid_argument);

    const TempDir dir;
    const std::string missing = (dir / "missing.yuv").string();
    EXPECT_THROW(nrvq::analyzeFile(missing, {.width = 8, .height = 8}), nrvq::InputFailure);
    testing_support::writeRawClip(dir / "clip.yuv", {clips::texture(8, 8, 0)});
    const std::string clip = (dir / "clip.yuv").string();
    for (const nrvq::FileOptions& bad :
         {nrvq::FileOptions{.width = 0, .height = 8}, nrvq::FileOptions{.width = 8, .height = 8, .fps = -1.0},
          nrvq::FileOptions{.width = 8, .height = 8, .start = -2},
          nrvq::FileOptions{.width = 46341, .height = 46341}, nrvq::FileOptions{.width = 0},
          nrvq::FileOptions{.width = 8, .height = 8, .indicators = 0},
          nrvq::FileOptions{.width = 8, .height = 8, .rules = {"blur >> 1"}},
          nrvq::FileOptions{.width = 8, .height = 8, .indicators = 1, .rules = {"blur > 1"}},
          nrvq::FileOptions{.width = 8, .height = 8, .rulesFile = missing},
          nrvq::FileOptions{.width = 8, .height = 8, .failOn = "blur,nope"},
          nrvq::FileOptions{.width = 8, .height = 8, .pixFmt = "nv12"},
          nrvq::FileOptions{.width = 8, .height = 8, .stream = -1}}) {
        EXPECT_THROW(nrvq::analyzeFile(clip, bad), std::invalid_argument);
    }
    // The library's messages name its own fields, never a command-line option.
    const auto inLibraryWords = [](const auto& call) {
        try {
            call();
            ADD_FAILURE() << "accepted";
        } catch (const std::exception& e) {
            EXPECT_EQ(std::string(e.what()).find("--"), std::string::npos) << e.what();
        }
    };
    for (const nrvq::FileOptions& bad : {nrvq::FileOptions{.width = 8, .height = 8, .pixFmt = "nv12"},
                                         nrvq::FileOptions{.width = 8, .height = 8, .stream = 0},
                                         nrvq::FileOptions{.width = 8, .height = 8, .rules = {"blur >> 1"}},
                                         nrvq::FileOptions{.width = 8, .height = 8, .rulesFile = missing},
                                         nrvq::FileOptions{.width = 8, .height = 8, .failOn = "blur,nope"}}) {
        inLibraryWords([&] { nrvq::analyzeFile(clip, bad); });
    }
    for (const auto& [only, skip] : {std::pair{"nope", ""}, std::pair{"", "blur,nope"}, std::pair{"blur", "blur"}}) {
        EXPECT_THROW(nrvq::selectIndicators(only, skip), std::invalid_argument) << only << " / " << skip;
        inLibraryWords([&] { nrvq::selectIndicators(only, skip); });
    }
    // Rules, a selection and a fatal verdict, as on the command line.
    EXPECT_EQ(nrvq::selectIndicators("blur,noise", "noise"), 1u << nrvq::kBlur);
    const nrvq::FileResults judged = nrvq::analyzeFile(
        clip, {.width = 8, .height = 8, .indicators = nrvq::selectIndicators("blur", ""), .rules = {"blur >= 0"},
               .failOn = "blur"});
    ASSERT_EQ(judged.events().size(), 1u);
    EXPECT_EQ(judged.events()[0].indicator, "blur");
    EXPECT_EQ(judged.events()[0].severity, "fatal");
    EXPECT_EQ(judged.events()[0].rule, "blur >= 0");
    EXPECT_EQ(judged.events()[0].end, 1 / 25.0);
    EXPECT_TRUE(judged.fatal());
    EXPECT_FALSE(judged[0].measured("noise"));
    EXPECT_NEAR(nrvq::blurMos(0), 4.96, 0.005);
    EXPECT_NEAR(nrvq::blockinessMos(1), 3.74, 0.005);
    EXPECT_TRUE(std::isnan(nrvq::blockinessMos(NAN)));
    // Frames the file lacks are not analysed, and the reader says so.
    for (const int32_t frames : {3, INT32_MAX}) {
        const nrvq::FileResults results = nrvq::analyzeFile(clip, {.width = 8, .height = 8, .frames = frames});
        EXPECT_EQ(results.size(), 1u);
        EXPECT_FALSE(results.notes().empty());
        EXPECT_EQ(results.summary("blur").count, 1);
        EXPECT_THROW(results.spans("blur"), std::invalid_argument);
    }
}

}  // namespace
