// The exit status of a run in which a fatal event opened (3, with every
// output still written), and runs that compute only some indicators.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "testing.h"

namespace {

using namespace testing_support;

// A textured clip whose frames 6 ... 9 are black: a blackout of 4 frames.
TEST(FatalEvents, ExitWithThreeAfterWritingEveryOutput) {
    TempDir dir;
    std::vector<clips::Plane> frames = textureFrames(64, 48, 16);
    for (int i = 6; i < 10; ++i) frames[i] = clips::Plane(64, 48, 0);
    writeRawClip(dir / "clip.yuv", frames);
    writeFile(dir / "rules.toml", "fail_on = [\"blackout\"]\n");
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{}, 0},
        {{"--fail-on", "blackout"}, 3},
        {{"--fail-on", "any"}, 3},
        {{"--fail-on", "blur,noise"}, 0},
        {{"--rules", "rules.toml"}, 3},
        {{"--rule", "blackout >= 1 for 4f : fatal"}, 3},
        {{"--rule", "blackout >= 1 for 5f : fatal"}, 0},  // one frame short
        {{"--rule", "blackout >= 1 for 0.16s : fatal"}, 3},
        {{"--rule", "blackout >= 1 for 0.17s : fatal"}, 0},
        {{"--rule", "blackout >= 2", "--fail-on", "blackout"}, 0},
    };
    for (const auto& [more, status] : cases) {
        std::vector<std::string> args = {"clip.yuv", "64", "48", "--log", "log.tsv", "--json", "out.json",
                                         "--csv",    "out.csv", "--events", "events.csv", "--report",
                                         "out.html", "--summary"};
        args.insert(args.end(), more.begin(), more.end());
        for (const char* name : {"log.tsv", "out.json", "out.csv", "events.csv", "out.html"}) {
            std::filesystem::remove(dir / name);
        }
        const RunResult r = runTool(dir.path(), args);
        const std::string label = more.empty() ? "defaults" : more.back();
        ASSERT_EQ(r.status, status) << label << r.err;
        EXPECT_NE(r.out.find("File stream closed"), std::string::npos) << label;
        EXPECT_NE(r.out.find("events: "), std::string::npos) << label;
        EXPECT_EQ(splitLines(readFile(dir / "log.tsv")).size(), 17u) << label;
        EXPECT_EQ(splitLines(readFile(dir / "out.csv")).size(), 17u) << label;
        EXPECT_NE(readFile(dir / "out.html").find("</html>"), std::string::npos) << label;
        const nlohmann::json doc = nlohmann::json::parse(readFile(dir / "out.json"));
        int fatal = 0;
        for (const auto& e : doc["events"]) fatal += e["severity"] == "fatal" ? 1 : 0;
        EXPECT_EQ(fatal > 0, status == 3) << label;
        EXPECT_EQ(splitLines(readFile(dir / "events.csv")).size(), doc["events"].size() + 1) << label;
    }
    // Clean moving texture opens no warning at all.
    writeRawClip(dir / "clean.yuv", textureFrames(256, 192, 40));
    EXPECT_EQ(runTool(dir.path(), {"clean.yuv", "256", "192", "--no-log", "--fail-on", "warning"}).status, 0);
    const RunResult bad = runTool(dir.path(), {"clip.yuv", "64", "48", "--no-log", "--rule", "blackout is 1"});
    EXPECT_EQ(bad.status, 255);
    EXPECT_NE(bad.err.find("Invalid --rule \"blackout is 1\": unknown comparison"), std::string::npos) << bad.err;
}

// A selection computes the indicators asked for (and what they need) with the
// values of a full run, shows only them, and writes no log and no rows.
TEST(Selection, OnlyWhatIsAskedWithTheValuesOfAFullRun) {
    TempDir dir;
    std::vector<clips::Plane> frames = textureFrames(64, 48, 24);
    for (int i = 6; i < 9; ++i) frames[i] = clips::Plane(64, 48, 0);
    for (int i = 12; i < 18; ++i) frames[i] = frames[11];
    writeRawClip(dir / "clip.yuv", frames);
    const auto run = [&dir](std::vector<std::string> more) {
        more.insert(more.begin(), {"clip.yuv", "64", "48", "--json", "out.json", "--csv", "out.csv"});
        const RunResult r = runTool(dir.path(), more);
        EXPECT_EQ(r.status, 0) << r.err;
        return std::pair{r, nlohmann::json::parse(readFile(dir / "out.json"))};
    };
    const nlohmann::json full = run({"--no-log"}).second;
    const std::vector<std::pair<std::vector<std::string>, std::set<std::string>>> cases = {
        {{"--only", "freezing,blur"}, {"blur", "freezing"}},
        {{"--only", "flickering"}, {"flickering"}},
        {{"--skip", "blur,slice"},
         {"blockiness", "spatial_activity", "letterbox", "pillarbox", "block_loss", "temporal_activity", "blackout",
          "freezing", "exposure", "contrast", "interlace", "noise", "flickering"}},
    };
    for (const auto& [more, keys] : cases) {
        std::filesystem::remove(dir / "metricsResultsCSV.csv");
        const auto [r, doc] = run(more);
        EXPECT_EQ(r.out, "") << more[1];
        EXPECT_FALSE(std::filesystem::exists(dir / "metricsResultsCSV.csv")) << more[1];
        std::set<std::string> summary, events;
        for (const auto& [key, value] : doc["summary"].items()) summary.insert(key);
        for (const auto& e : doc["events"]) events.insert(e["indicator"]);
        EXPECT_EQ(summary, keys) << more[1];
        EXPECT_TRUE(std::includes(keys.begin(), keys.end(), events.begin(), events.end())) << more[1];
        ASSERT_EQ(doc["frames"].size(), full["frames"].size());
        for (size_t i = 0; i < doc["frames"].size(); ++i) {
            for (const auto& [key, value] : doc["frames"][i].items()) {
                EXPECT_EQ(value, full["frames"][i][key]) << more[1] << " " << i << " " << key;
            }
            EXPECT_EQ(doc["frames"][i].size(), keys.size() + 2 + keys.count("blur") + keys.count("blockiness"));
        }
        // The CSV header names the same keys as the frames of the JSON.
        std::string header = splitLines(readFile(dir / "out.csv"))[0];
        std::set<std::string> columns;
        for (size_t at = 0, end; at < header.size(); at = end + 1) {
            end = std::min(header.find_first_of(",\r", at), header.size());
            columns.insert(header.substr(at, end - at));
        }
        std::set<std::string> frameKeys;
        for (const auto& [key, value] : doc["frames"][0].items()) frameKeys.insert(key);
        EXPECT_EQ(columns, frameKeys) << more[1];
    }
    EXPECT_NE(runTool(dir.path(), {"clip.yuv", "64", "48", "--skip", "blur", "--log", "x.tsv"}).status, 0);
    EXPECT_NE(runTool(dir.path(), {"clip.yuv", "64", "48", "--only", "blur", "--rule", "noise > 1"}).status, 0);
}

}  // namespace
