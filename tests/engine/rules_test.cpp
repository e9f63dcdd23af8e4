// Event rules as the user gives them: rule texts, TOML files, --fail-on
// lists.
#include <gtest/gtest.h>

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

}  // namespace
