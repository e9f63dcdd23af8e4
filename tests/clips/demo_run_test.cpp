// The whole tool on the demonstration clip: every impairment moves its own
// column the way it should against the clean stretches, and the results log
// repeats the console's values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "testing.h"

namespace {

using clips::DemoClip;
using clips::Segment;
using namespace testing_support;

enum Column {
    kFrame, kBlockiness, kSpatial, kLetterbox, kPillarbox, kBlockLoss, kBlur, kTemporal, kBlackout, kFreezing,
    kExposure, kContrast, kInterlace, kNoise, kSlice, kFlickering, kColumns
};

class DemoRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        clip_ = clips::demoClip();
        clips::ClipWriter writer((dir_ / "demo.yuv").string());
        for (int32_t t = 0; t < clip_.frames(); ++t) writer.write(clips::demoFrame(clip_, t));
        writer.close();
        result_ = runTool(dir_.path(), {"demo.yuv", std::to_string(clip_.w), std::to_string(clip_.h), "--events",
                                        "events.csv"});
        for (const std::string& row : frameRows(result_.out)) consoleRows_.push_back(splitFields(row));
        for (const std::string& row : frameRows(readFile(dir_ / "metricsResultsCSV.csv"))) {
            logRows_.push_back(splitFields(row));
        }
    }

    static double value(int32_t t, Column column) { return std::stod(consoleRows_.at(t).at(column)); }

    static const Segment& segment(const std::string& name, int occurrence = 0) {
        for (const Segment& s : clip_.segments) {
            if (s.name == name && occurrence-- == 0) return s;
        }
        throw std::out_of_range(name);
    }

    // Mean of a column over a segment, leaving out its first frame (whose
    // temporal columns compare it with the segment before).
    static double mean(const Segment& s, Column column) {
        double total = 0.0;
        for (int32_t t = s.first + 1; t < s.first + s.count; ++t) total += value(t, column);
        return total / (s.count - 1);
    }

    // The larger of the two clean stretches' means, and the smaller.
    static double cleanHigh(Column column) {
        return std::max(mean(segment("clean", 0), column), mean(segment("clean", 1), column));
    }
    static double cleanLow(Column column) {
        return std::min(mean(segment("clean", 0), column), mean(segment("clean", 1), column));
    }

    static inline TempDir dir_;
    static inline DemoClip clip_;
    static inline RunResult result_;
    static inline std::vector<std::vector<std::string>> consoleRows_, logRows_;
};

TEST_F(DemoRun, EveryFrameHasTheSameRowOnTheConsoleAndInTheLog) {
    ASSERT_EQ(result_.status, 0) << result_.err;
    EXPECT_EQ(result_.err, "");
    ASSERT_EQ(consoleRows_.size(), static_cast<size_t>(clip_.frames()));
    ASSERT_EQ(logRows_, consoleRows_);
    for (int32_t t = 0; t < clip_.frames(); ++t) {
        ASSERT_EQ(consoleRows_[t].size(), static_cast<size_t>(kColumns));
        EXPECT_EQ(std::stoi(consoleRows_[t][kFrame]), t);
    }
}

TEST_F(DemoRun, EachImpairmentOpensItsEventsWhereItIsAndTheCleanStretchesNone) {
    // Frames 24-47 blocky (flat blocks are lost blocks too), 48-71 lost
    // blocks, 72-95 blurred, 96-119 bars, 120-143 black (dark, flat and all
    // bar as well), 144-167 frozen, 168-191 flickering (reported every 8th
    // frame), 192-215 dark, bright, grey; then interlaced, noisy, sliced.
    // Temporal activity marks the cuts into bars, black, stills and exposure.
    const std::map<std::string, std::string> expected = {
        {"blockiness", " 24-47"}, {"block_loss", " 24-71"}, {"blur", " 72-95"},
        {"letterbox", " 96-143"}, {"pillarbox", " 96-143"}, {"blackout", " 120-143 208-215"},
        {"exposure", " 120-143 192-199 200-207"}, {"contrast", " 120-143 192-215"},
        {"freezing", " 147-155 159-167"}, {"flickering", " 176-199"}, {"interlace", " 216-239"},
        {"noise", " 240-263"}, {"slice", " 264-287"},
        {"temporal_activity", " 96-96 120-120 144-144 192-192 200-200 208-208"}};
    std::map<std::string, std::string> got;
    const std::vector<std::string> lines = splitLines(readFile(dir_ / "events.csv"));
    ASSERT_FALSE(lines.empty());
    for (size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::string> f;
        for (size_t at = 0, end; at <= lines[i].size(); at = end + 1) {
            end = std::min(lines[i].find(',', at), lines[i].size());
            f.push_back(lines[i].substr(at, end - at));
        }
        ASSERT_GE(f.size(), 4u) << lines[i];
        got[f[0]] += " " + f[2] + "-" + f[3];
    }
    EXPECT_EQ(got, expected);
}

TEST_F(DemoRun, CleanStretchesShowNoImpairment) {
    for (int occurrence : {0, 1}) {
        const Segment& clean = segment("clean", occurrence);
        for (int32_t t = clean.first + 1; t < clean.first + clean.count; ++t) {
            EXPECT_NEAR(value(t, kBlockiness), 1.0, 0.1) << t;
            EXPECT_EQ(value(t, kLetterbox), 0.0) << t;
            EXPECT_EQ(value(t, kPillarbox), 0.0) << t;
            EXPECT_EQ(value(t, kBlockLoss), 0.0) << t;
            EXPECT_GT(value(t, kTemporal), 1.0) << t;
            EXPECT_EQ(value(t, kBlackout), 0.0) << t;
            EXPECT_EQ(value(t, kFreezing), 0.0) << t;
            EXPECT_LT(value(t, kInterlace), 0.05) << t;
            EXPECT_TRUE(std::isfinite(value(t, kSlice))) << t;
        }
    }
}

TEST_F(DemoRun, PictureImpairmentsShowInTheirColumns) {
    EXPECT_LT(mean(segment("blocky"), kBlockiness), 0.5 * cleanLow(kBlockiness));
    EXPECT_GT(mean(segment("blurred"), kBlur), 3.0 * cleanHigh(kBlur));
    EXPECT_LT(mean(segment("blurred"), kSpatial), 0.6 * cleanLow(kSpatial));
    EXPECT_GT(mean(segment("interlaced"), kInterlace), 0.3);
    EXPECT_GT(mean(segment("noisy"), kNoise), 1.5 * cleanHigh(kNoise));
    EXPECT_GT(mean(segment("sliced"), kSlice), 10.0 * cleanHigh(kSlice));

    // One lost square in each of the two 256 x 256 regions: two horizontal
    // and two vertical edge runs each. Bars: a bar B columns wide counts
    // B - 1 pillarbox positions.
    const double letterboxShare = std::round(1e5 * clips::kDemoBarRows / (clip_.h / 2)) / 1e5;
    const double pillarboxShare = std::round(1e5 * (clips::kDemoBarColumns - 1) / (clip_.w / 2)) / 1e5;
    for (int32_t i = 0; i < segment("bars").count; ++i) {
        EXPECT_EQ(value(segment("lost blocks").first + i, kBlockLoss), 4.0) << i;
        EXPECT_DOUBLE_EQ(value(segment("bars").first + i, kLetterbox), letterboxShare) << i;
        EXPECT_DOUBLE_EQ(value(segment("bars").first + i, kPillarbox), pillarboxShare) << i;
    }
}

TEST_F(DemoRun, BlackFramesAreBlackoutsAndNeverFrozen) {
    const Segment& black = segment("black");
    for (int32_t t = black.first; t < black.first + black.count; ++t) {
        EXPECT_EQ(value(t, kBlackout), 1.0) << t;
        EXPECT_EQ(value(t, kFreezing), 0.0) << t;
        EXPECT_EQ(value(t, kExposure), 0.0) << t;
        EXPECT_EQ(value(t, kContrast), 0.0) << t;
    }
}

TEST_F(DemoRun, RepeatedFramesFreezeFromTheThirdRepeat) {
    // Two stills of half a segment each; at 25 frames per second the third
    // exact repeat in a row is the first reported.
    const Segment& frozen = segment("frozen");
    const int32_t half = frozen.count / 2;
    for (int32_t i = 0; i < frozen.count; ++i) {
        const int32_t repeats = i % half;
        const int32_t t = frozen.first + i;
        EXPECT_EQ(value(t, kTemporal) == 0.0, repeats > 0) << t;
        EXPECT_EQ(value(t, kFreezing), repeats >= 3 ? 1.0 : 0.0) << t;
    }
    EXPECT_EQ(value(frozen.first + frozen.count, kFreezing), 0.0);
}

TEST_F(DemoRun, FlickeringBlocksSwitchOnAlmostEveryFrame) {
    // Every 8th frame reports; elsewhere -1. Blocks that change on every
    // other frame switch 7 times in a period, blocks that change on every
    // frame once.
    for (int32_t t = 1; t < clip_.frames(); ++t) {
        if (t % 8 != 0) {
            EXPECT_EQ(value(t, kFlickering), -1.0) << t;
        }
    }
    const Segment& flickering = segment("flickering");
    EXPECT_EQ(value(flickering.first + 8, kFlickering), 0.875);
    EXPECT_EQ(value(flickering.first + 16, kFlickering), 0.875);
    const Segment& clean = segment("clean");
    EXPECT_EQ(value(clean.first + 8, kFlickering), 0.125);
    EXPECT_EQ(value(clean.first + 16, kFlickering), 0.125);
}

TEST_F(DemoRun, DarkBrightAndGreyFramesShowInExposureAndContrast) {
    const Segment& levels = segment("dark, bright, grey");
    const int32_t third = levels.count / 3;
    for (int32_t i = 0; i < levels.count; ++i) {
        const int32_t t = levels.first + i;
        if (i < third) {
            EXPECT_LT(value(t, kExposure), 45.0) << t;
        } else if (i < 2 * third) {
            EXPECT_GT(value(t, kExposure), 210.0) << t;
        } else {
            EXPECT_EQ(value(t, kExposure), 128.0) << t;
            EXPECT_EQ(value(t, kContrast), 0.0) << t;
            EXPECT_EQ(value(t, kBlackout), 1.0) << t;
        }
        if (i < 2 * third) {
            EXPECT_LT(value(t, kContrast), 0.3 * cleanLow(kContrast)) << t;
        }
    }
}

}  // namespace
