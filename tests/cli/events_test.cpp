// Event rules on the command line and in TOML files, the exit status of a
// run in which a fatal event opened (3, with every output still written), and
// runs that compute only some indicators.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/rules.h"
#include "testing.h"

namespace {

using namespace testing_support;

TEST(Rules, TextsParseOrNameWhatIsWrong) {
    const std::vector<std::pair<std::string, std::string>> good = {
        {"blur > 12", "blur > 12 warning"},
        {"  blur>=12.5 for 2s : fatal ", "blur >= 12.5 for 2s fatal"},
        {"exposure < 40 for 500ms", "exposure < 40 for 0.5s warning"},
        {"noise <= -1 for 12f:info", "noise <= -1 for 12f info"},
    };
    for (const auto& [text, expected] : good) {
        const nrvq::EventRule r = nrvq::parseRule(text);
        EXPECT_EQ(r.text() + " " + std::string(nrvq::severityName(r.severity)), expected) << text;
    }
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"bluriness > 1", "unknown indicator \"bluriness\""}, {"blur = 1", "unknown comparison \"=\""},
        {"blur > x", "expected a finite number"},            {"blur > 1 for 2", "bad duration \"2\""},
        {"blur > 1 for 1.5f", "bad duration"},               {"blur > 1 : fatally", "unknown severity"},
        {"blur > 1 soon", "unexpected \"soon\""},            {"blur > inf", "expected a finite number"},
    };
    for (const auto& [text, message] : bad) {
        try {
            nrvq::parseRule(text);
            ADD_FAILURE() << text;
        } catch (const std::invalid_argument& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.rfind("Invalid --rule \"" + text + "\": ", 0), 0u) << what;
            EXPECT_NE(what.find(message), std::string::npos) << what;
        }
    }
    EXPECT_THROW(nrvq::parseFailOn("blur,nothing"), std::invalid_argument);
    EXPECT_THROW(nrvq::parseFailOn("fatal"), std::invalid_argument);
    EXPECT_EQ(nrvq::parseFailOn("any").columns.size(), nrvq::kIndicatorCount);
    // Warning rules fatal; info rules, the user's info rule among them, not.
    const std::set<nrvq::Column> info = {nrvq::kSpatialActivity, nrvq::kLetterbox, nrvq::kPillarbox,
                                         nrvq::kTemporalActivity, nrvq::kBlur};
    for (const nrvq::EventRule& r : nrvq::runRules({"blur > 9 : info"}, "", "warning")) {
        EXPECT_EQ(r.severity == nrvq::Severity::Fatal, info.count(r.column) == 0) << r.text();
    }
}

TEST(Rules, TomlFilesGiveRulesOrTheLineOfTheFault) {
    TempDir dir;
    writeFile(dir / "good.toml", "fail_on = [\"freezing\"]\nrules = [\"noise > 3 : info\"]\n"
                                 "[[rule]]\nindicator = \"blur\"\nop = \">=\"\nvalue = 7\nfor = \"3f\"\n");
    const nrvq::RulesFile file = nrvq::readRulesFile((dir / "good.toml").string());
    ASSERT_EQ(file.rules.size(), 2u);
    EXPECT_EQ(file.rules[0].text(), "blur >= 7 for 3f");  // tables first, then texts
    EXPECT_EQ(file.rules[1].text(), "noise > 3");
    EXPECT_EQ(file.failOn, std::vector<std::string>{"freezing"});
    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {"[[rule]]\nindicator = \"blur\"\nop = \">\"\n", "bad.toml:1: a rule needs indicator, op and value"},
             {"\n\nrules = [\"blur >\"]\n", "bad.toml:3: Invalid --rule"},
             {"limit = 3\n", "bad.toml:1: unknown entry \"limit\""},
             {"[[rule]]\nindicator = \"blur\"\nop = \">\"\nvalue = 1\nwhen = 2\n", "bad.toml:5: unknown rule field"},
             {"rules = [\n", "bad.toml:1: Error while parsing array"}}) {
        writeFile(dir / "bad.toml", text);
        try {
            nrvq::readRulesFile((dir / "bad.toml").string());
            ADD_FAILURE() << text;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

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
