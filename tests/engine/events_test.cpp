// Events over a sequence of values: minimum durations at their edges (one
// frame short opens nothing), spans still open at the end, values that were
// not measured, peaks, and how the user's rules replace the defaults.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/events.h"

namespace {

using nrvq::Comparison;
using nrvq::Event;
using nrvq::EventRule;
using nrvq::MinimumDuration;

struct Span {
    int64_t first, last;
    double start, end, peak;
};

// Runs one rule on the flickering column over values at 25 frames per
// second (NaN: no value, as between flickering's reports).
std::vector<Span> spans(const EventRule& rule, const std::vector<double>& values) {
    nrvq::EventTracker tracker({rule}, 25.0);
    for (size_t i = 0; i < values.size(); ++i) {
        nrvq::FrameRecord record;
        record.index = static_cast<int64_t>(i);
        record.seconds = static_cast<double>(i) / 25.0;
        record.hasPrevious = true;
        record.values[nrvq::kFlickering] = std::isnan(values[i]) ? -1.0 : values[i];
        tracker.frame(record);
    }
    std::vector<Span> result;
    for (const Event& e : tracker.events()) result.push_back({e.first, e.last, e.start, e.end, e.peak});
    return result;
}

EventRule above(double threshold, MinimumDuration minimum, Comparison op = Comparison::Greater) {
    return EventRule{nrvq::kFlickering, op, threshold, minimum};
}

TEST(Events, MinimumDurationsAreHonouredAtTheirEdges) {
    const double x = 20;  // above
    struct Case {
        const char* name;
        EventRule rule;
        std::vector<double> values;
        std::vector<Span> expected;
    };
    const std::vector<Case> cases = {
        {"3 frames: 2 are short", above(10, {3, true}), {0, x, x, 0, x, x, x, 0},
         {{4, 6, 0.16, 0.28, x}}},
        {"0.12 s is 3 frames at 25 fps", above(10, {0.12, false}), {x, x, 0, x, x, x},
         {{3, 5, 0.12, 0.24, x}}},
        {"open at the end closes at the last frame", above(10, {0, true}), {0, 12, 30, 11},
         {{1, 3, 0.04, 0.16, 30}}},
        {"strict and inclusive", above(10, {0, true}), {10, 10.5, 10}, {{1, 1, 0.04, 0.08, 10.5}}},
        {"inclusive", above(10, {0, true}, Comparison::GreaterEqual), {10, 9}, {{0, 0, 0, 0.04, 10}}},
        {"falling values: the lowest is the peak", above(2, {2, true}, Comparison::Less), {1, 0.5, 1.5, 3},
         {{0, 2, 0, 0.12, 0.5}}},
        {"not measured keeps the condition", above(10, {4, true}), {x, NAN, NAN, 15, 0, NAN, NAN},
         {{0, 3, 0, 0.16, x}}},
        {"not measured first holds nothing", above(10, {0, true}), {NAN, NAN, x}, {{2, 2, 0.08, 0.12, x}}},
    };
    for (const Case& c : cases) {
        const std::vector<Span> got = spans(c.rule, c.values);
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].first, c.expected[i].first) << c.name;
            EXPECT_EQ(got[i].last, c.expected[i].last) << c.name;
            EXPECT_NEAR(got[i].start, c.expected[i].start, 1e-12) << c.name;
            EXPECT_NEAR(got[i].end, c.expected[i].end, 1e-12) << c.name;
            EXPECT_EQ(got[i].peak, c.expected[i].peak) << c.name;
        }
    }
}

TEST(Events, UserRulesReplaceTheDefaultOfTheirDirectionAndFailOnMakesFatal) {
    const std::vector<EventRule> user = {EventRule{nrvq::kExposure, Comparison::LessEqual, 20, {}, {}, true},
                                         EventRule{nrvq::kBlur, Comparison::Greater, 6, {1, false}, {}, true}};
    std::vector<EventRule> rules = nrvq::combineRules(nrvq::defaultRules(), user);
    std::vector<std::string> texts;
    for (const EventRule& r : rules) {
        if (r.column == nrvq::kExposure || r.column == nrvq::kBlur) texts.push_back(r.text());
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"exposure > 210 for 0.3s", "exposure <= 20", "blur > 6 for 1s"}));
    EXPECT_EQ(rules.size(), nrvq::defaultRules().size());
    nrvq::makeFatal(rules, {nrvq::kFreezing});
    for (const EventRule& r : rules) {
        EXPECT_EQ(r.severity == nrvq::Severity::Fatal, r.column == nrvq::kFreezing) << r.text();
    }
}

}  // namespace
