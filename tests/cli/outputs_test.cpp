// The machine-readable and human-readable outputs: JSON (against its schema
// and the log), CSV, the summary table, --quiet, standard output as a data
// channel, write failures, the progress line under a terminal, and the HTML
// report as headless Chromium draws it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "clips/clip.h"
#include "engine/frame.h"
#include "engine/registry.h"
#include "io/text_output.h"
#include "testing.h"

namespace {

using nlohmann::json;
using namespace testing_support;

// The pieces of text between separators, empty ones included.
std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    size_t at = 0;
    for (size_t end; (end = text.find(separator, at)) != std::string::npos; at = end + separator.size()) {
        pieces.push_back(text.substr(at, end - at));
    }
    pieces.push_back(text.substr(at));
    return pieces;
}

// Demonstration frames 110 ... 179 (bars, black, frozen, flickering), of
// which the runs examine the 68 from the third on.
class Outputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const clips::DemoClip demo = clips::demoClip();
        clips::ClipWriter writer((dir_ / "clip.yuv").string());
        for (int32_t t = 110; t < 180; ++t) writer.write(clips::demoFrame(demo, t));
        writer.close();
        const std::vector<std::string> args = {"clip.yuv", "512", "288", "--start", "2", "--frames", "68"};
        plain_ = runTool(dir_.path(), args);
        plainLog_ = readFile(dir_ / "metricsResultsCSV.csv");
        std::vector<std::string> more = args;
        more.insert(more.end(), {"--json", "out.json", "--csv", "out.csv", "--report", "report.html", "--summary"});
        full_ = runTool(dir_.path(), more);
        fullLog_ = readFile(dir_ / "metricsResultsCSV.csv");
        doc_ = json::parse(readFile(dir_ / "out.json"));
        const std::vector<std::string> lines = splitLines(fullLog_);
        logLines_.assign(lines.begin() + 1, lines.end());
    }
    static inline TempDir dir_;
    static inline RunResult plain_, full_;
    static inline std::string plainLog_, fullLog_;
    static inline json doc_;
    static inline std::vector<std::string> logLines_;
};

TEST_F(Outputs, ConsoleAndLogAreUnchangedAndTheSummaryFollows) {
    ASSERT_EQ(plain_.status, 0);
    ASSERT_EQ(full_.status, 0) << full_.err;
    EXPECT_EQ(fullLog_, plainLog_);
    EXPECT_EQ(full_.err, "");  // no progress line off a terminal
    // Identical up to the processor-time figures, then the summary table.
    const auto upTo = [](const std::string& text, const std::string& mark) { return text.substr(0, text.find(mark)); };
    EXPECT_EQ(upTo(full_.out, "Calculation time"), upTo(plain_.out, "Calculation time"));
    const std::string closing = "\nFile stream closed\n\n";
    ASSERT_NE(full_.out.find(closing), std::string::npos);
    const std::string tail = full_.out.substr(full_.out.find(closing) + closing.size());
    EXPECT_EQ(tail.rfind("Summary of 68 frames (2 ... 69)\n", 0), 0u) << tail;
    EXPECT_NE(tail.find("blackout spans: 10-33\n"), std::string::npos) << tail;
}

TEST_F(Outputs, JsonFollowsTheLogAndTheSchema) {
    EXPECT_EQ(doc_["input"]["first_frame"], 2);
    EXPECT_EQ(doc_["input"]["frames_examined"], 68);
    EXPECT_EQ(doc_["input"]["width"], 512);
    const json& frames = doc_["frames"];
    ASSERT_EQ(frames.size(), logLines_.size());
    std::vector<std::vector<double>> logged(nrvq::kIndicatorCount);  // measured log values per column
    for (size_t row = 0; row < frames.size(); ++row) {
        const std::vector<std::string> fields = splitFields(logLines_[row]);
        ASSERT_EQ(fields.size(), nrvq::kIndicatorCount + 1);
        ASSERT_EQ(frames[row]["frame"], std::stoll(fields[0]));
        // The JSON values, printed as the log prints them, give the log row;
        // the log's own value stands in where the JSON has none.
        nrvq::FrameRecord record;
        record.index = frames[row]["frame"];
        record.hasPrevious = row > 0;
        std::vector<bool> missing(nrvq::kIndicatorCount);
        for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
            const json& v = frames[row][std::string(nrvq::kIndicators[c].key)];
            missing[c] = v.is_null();
            record.values[c] = missing[c] ? std::stod(fields[c + 1]) : v.get<double>();
        }
        std::string row_;
        nrvq::appendLogRow(record, row_);
        EXPECT_EQ(row_, logLines_[row] + "\n");
        for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
            const bool measured = nrvq::isMeasured(record, static_cast<nrvq::Column>(c));
            EXPECT_EQ(missing[c], !measured || !std::isfinite(record.values[c])) << row << " " << c;
            if (!missing[c]) logged[c].push_back(std::stod(fields[c + 1]));
        }
    }

    // Statistics recomputed from the log: within one unit of its last digit.
    for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
        const nrvq::IndicatorInfo& info = nrvq::kIndicators[c];
        const json& s = doc_["summary"][std::string(info.key)];
        std::vector<double> v = logged[c];
        ASSERT_EQ(s["count"], v.size()) << info.key;
        ASSERT_EQ(s["left_out"], frames.size() - v.size()) << info.key;
        if (v.empty()) {
            EXPECT_TRUE(s["mean"].is_null());
            continue;
        }
        const size_t dot = info.logField.find('.');
        const double unit =
            dot == std::string_view::npos ? 1.0 : std::pow(10.0, -(info.logField[dot + 1] - '0'));
        std::sort(v.begin(), v.end());
        const auto rank = [&v](double p) {
            const double r = p * static_cast<double>(v.size() - 1);
            const size_t lo = static_cast<size_t>(r);
            return lo + 1 < v.size() ? v[lo] + (v[lo + 1] - v[lo]) * (r - static_cast<double>(lo)) : v[lo];
        };
        double mean = 0, var = 0;
        for (double x : v) mean += x / static_cast<double>(v.size());
        for (double x : v) var += (x - mean) * (x - mean) / static_cast<double>(v.size());
        for (const auto& [name, value] : std::vector<std::pair<const char*, double>>{
                 {"mean", mean}, {"min", v.front()}, {"max", v.back()}, {"p5", rank(0.05)}, {"p50", rank(0.5)},
                 {"p95", rank(0.95)}, {"stddev", std::sqrt(var)}}) {
            EXPECT_NEAR(s[name].get<double>(), value, unit) << info.key << " " << name;
        }
    }

    // Blackout and freezing events: the runs of 1 in the log's flag columns;
    // frame times at 25 frames per second.
    for (const nrvq::Column flag : {nrvq::kBlackout, nrvq::kFreezing}) {
        json spans = json::array(), events = json::array();
        for (size_t row = 0; row < logLines_.size(); ++row) {
            EXPECT_DOUBLE_EQ(frames[row]["time"].get<double>(), frames[row]["frame"].get<double>() / 25.0);
            if (splitFields(logLines_[row])[flag + 1] != "1") continue;
            const int64_t frame = frames[row]["frame"];
            if (!spans.empty() && spans.back()["last"] == frame - 1) {
                spans.back()["last"] = frame;
            } else {
                spans.push_back({{"first", frame}, {"last", frame}});
            }
        }
        for (const json& e : doc_["events"]) {
            if (e["indicator"] != nrvq::kIndicators[flag].key) continue;
            events.push_back({{"first", e["first"]}, {"last", e["last"]}});
        }
        EXPECT_FALSE(spans.empty());
        EXPECT_EQ(events, spans);
    }

    if (std::system("/usr/bin/python3 -c 'import jsonschema' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3-jsonschema is not installed";
    }
    const std::string check = "/usr/bin/python3 -c 'import json,sys,jsonschema; jsonschema.validate("
                              "json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))' '" +
                              (dir_ / "out.json").string() + "' '" NRVQ_OUTPUT_SCHEMA "'";
    EXPECT_EQ(std::system(check.c_str()), 0);
}

TEST_F(Outputs, CsvRoundTripsTheJsonValues) {
    const std::vector<std::string> lines = split(readFile(dir_ / "out.csv"), "\r\n");
    std::string header = "frame,time";
    for (const auto& info : nrvq::kIndicators) header += "," + std::string(info.key);
    header += ",blockiness_mos,blur_mos";
    ASSERT_EQ(lines.size(), 70u);
    EXPECT_EQ(lines[0], header);
    EXPECT_EQ(lines[69], "");  // every line ends with CR LF
    for (size_t row = 0; row + 2 < lines.size(); ++row) {
        const std::vector<std::string> fields = split(lines[row + 1], ",");
        const std::vector<std::string> keys = split(lines[0], ",");
        ASSERT_EQ(fields.size(), keys.size());
        const json& frame = doc_["frames"][row];
        for (size_t c = 0; c < keys.size(); ++c) {
            const json& v = frame[keys[c]];
            if (v.is_null()) {
                EXPECT_EQ(fields[c], "");
            } else {
                EXPECT_EQ(std::stod(fields[c]), v.get<double>()) << row << " " << keys[c];
            }
        }
    }
}

TEST_F(Outputs, ReportIsSelfContainedAndChromiumDrawsItsCharts) {
    const std::string html = readFile(dir_ / "report.html");
    for (const char* remote : {"http:", "https:", "src=", "href=", "url("}) {
        EXPECT_EQ(html.find(remote), std::string::npos) << remote;
    }
    EXPECT_EQ(std::count(html.begin(), html.end(), '<') - std::count(html.begin(), html.end(), '>'), 0);
    if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    TempDir profile;
    const std::string png = (profile / "shot.png").string();
    const std::string shot = "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
                             "--no-first-run --disable-background-networking --disable-component-update "
                             "--disable-sync --user-data-dir='" + (profile / "user").string() +
                             "' --screenshot='" + png + "' --window-size=1280,2000 'file://" +
                             (dir_ / "report.html").string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(shot.c_str()), 0);
    // Decodes the PNG (8-bit RGB or RGBA, not interlaced) and counts the
    // pixels of the chart line and of the blackout and freezing shading.
    std::ofstream(profile / "count.py") << R"(import sys, zlib, struct
data = open(sys.argv[1], 'rb').read()
pos, chunks = 8, b''
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    if kind == b'IHDR': w, h, depth, colour = struct.unpack('>IIBB', data[pos + 8:pos + 18])
    if kind == b'IDAT': chunks += data[pos + 8:pos + 8 + n]
    pos += 12 + n
bpp = {2: 3, 6: 4}[colour]
raw, stride = zlib.decompress(chunks), w * bpp
prev, pixels = bytearray(stride), []
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - bpp] if i >= bpp else 0
        b, c = prev[i], prev[i - bpp] if i >= bpp else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c; pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    pixels += [tuple(line[i:i + 3]) for i in range(0, stride, bpp)]
    prev = line
red = sum(1 for r, g, b in pixels if r > 150 and g < 110 and b < 100)
blue = sum(1 for r, g, b in pixels if b > 200 and r < 215 and b - r > 30)
grey = sum(1 for r, g, b in pixels if 170 < r < 215 and r == g == b)
print(len(set(pixels)), red, blue, grey)
)";
    const std::string counts = (profile / "counts").string();
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + (profile / "count.py").string() + "' '" + png + "' >'" +
                           counts + "'").c_str()),
              0);
    long colours = 0, red = 0, blue = 0, grey = 0;
    std::ifstream(counts) >> colours >> red >> blue >> grey;
    EXPECT_GT(colours, 20);   // not a blank page
    EXPECT_GT(red, 3000);     // the chart lines
    EXPECT_GT(blue, 10000);   // freezing spans
    EXPECT_GT(grey, 10000);   // blackout spans
}

// A small clip for the runs that only look at where things go.
class Streams : public ::testing::Test {
protected:
    void SetUp() override { writeRawClip(dir_ / "clip.yuv", textureFrames(32, 16, 12)); }
    // A run on the clip without a log, with more arguments.
    RunResult run(std::vector<std::string> more) {
        more.insert(more.begin(), {"clip.yuv", "32", "16", "--no-log"});
        return runTool(dir_.path(), more);
    }
    TempDir dir_;
};

TEST_F(Streams, QuietAndStandardOutputCarryOnlyWhatWasAskedFor) {
    RunResult r = run({"--quiet"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, "");
    r = run({"--quiet", "--summary"});
    EXPECT_EQ(r.out.rfind("Summary of 12 frames (0 ... 11)\n", 0), 0u) << r.out;
    r = run({"--json", "-"});
    EXPECT_EQ(json::parse(r.out)["frames"].size(), 12u);
    r = run({"--csv", "-", "--summary"});
    EXPECT_EQ(splitLines(r.out).size(), 13u);
    EXPECT_EQ(r.err.rfind("Summary of 12 frames", 0), 0u) << r.err;
    EXPECT_NE(run({"--json", "-", "--csv", "-"}).status, 0);
}

TEST_F(Streams, WriteFailuresStopWithAMessage) {
    for (const auto& [option, path, message] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"--json", "/dev/full", "Cannot write the JSON output /dev/full: No space left on device"},
             {"--csv", "/dev/full", "Cannot write the CSV output /dev/full: No space left on device"},
             {"--report", "/dev/full", "Cannot write the report /dev/full: No space left on device"},
             {"--json", "no/such/folder.json", "Cannot create the JSON output no/such/folder.json: No such file"}}) {
        const RunResult r = run({"--quiet", option, path});
        EXPECT_EQ(r.status, 255) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    EXPECT_EQ(shell(dir_.path(), std::string(NRVQ_BINARY) + " clip.yuv 32 16 --no-log >/dev/full 2>err.txt"), 255);
    EXPECT_EQ(readFile(dir_ / "err.txt").rfind("Cannot write", 0), 0u) << readFile(dir_ / "err.txt");
}

// Runs the tool under script(1), with a pseudo-terminal as standard error
// (and standard output unless arguments redirect it); returns what the
// terminal received.
std::string onTerminal(const TempDir& dir, const std::string& args) {
    EXPECT_EQ(shell(dir.path(), "script -qec \"" NRVQ_BINARY " clip.yuv 32 16 --no-log " + args +
                                    "\" /dev/null </dev/null >seen.txt"),
              0);
    return readFile(dir / "seen.txt");
}

TEST_F(Streams, ProgressGoesToATerminalOnlyAndIsWipedAtTheEnd) {
    // Rows redirected: the line shows on the terminal and is wiped at the end.
    std::string seen = onTerminal(dir_, ">rows.txt");
    EXPECT_NE(seen.find("frame 1 of 12 ("), std::string::npos) << seen;
    EXPECT_EQ(seen.substr(seen.size() - 4), "\r\033[K");
    const std::string rows = readFile(dir_ / "rows.txt");
    EXPECT_EQ(rows.find('\033'), std::string::npos);
    EXPECT_EQ(rows.find(" fps"), std::string::npos);
    // Rows on the terminal: no line unless asked for.
    EXPECT_EQ(onTerminal(dir_, "").find(" fps"), std::string::npos);
    seen = onTerminal(dir_, "--progress");
    EXPECT_NE(seen.find(" fps"), std::string::npos);
    EXPECT_NE(seen.find("File stream closed"), std::string::npos);
    // Standard error redirected: nothing of it, --progress or not.
    const RunResult r = run({"--quiet", "--progress"});
    EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
