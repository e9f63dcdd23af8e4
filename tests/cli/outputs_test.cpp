// The machine-readable and human-readable outputs: JSON (against its schema
// and the log), CSV, the summary table, --quiet, standard output as a data
// channel, refused outputs and write failures, the progress line under a
// terminal, and the HTML report, with a compared input, as headless Chromium
// draws it.
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
// which the runs examine the 68 from the third on; the report compares them
// with frames 70 ... 139 as YUV4MPEG2.
class Outputs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const clips::DemoClip demo = clips::demoClip();
        clips::ClipWriter writer((dir_ / "clip.yuv").string()), other((dir_ / "other.y4m").string());
        const std::string header = "YUV4MPEG2 W512 H288 F25:1\n", frame = "FRAME\n";
        other.writeRaw(reinterpret_cast<const uint8_t*>(header.data()), header.size());
        for (int32_t t = 110; t < 180; ++t) {
            writer.write(clips::demoFrame(demo, t));
            other.writeRaw(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
            other.write(clips::demoFrame(demo, t - 40));
        }
        writer.close();
        other.close();
        const std::vector<std::string> args = {"clip.yuv", "512", "288", "--start", "2", "--frames", "68"};
        plain_ = runTool(dir_.path(), args);
        plainLog_ = readFile(dir_ / "metricsResultsCSV.csv");
        std::vector<std::string> more = args;
        more.insert(more.end(), {"--json", "out.json", "--csv", "out.csv", "--report", "report.html", "--summary",
                                 "--compare", "other.y4m"});
        full_ = runTool(dir_.path(), more);
        fullLog_ = readFile(dir_ / "metricsResultsCSV.csv");
        doc_ = json::parse(readFile(dir_ / "out.json"));
        runTool(dir_.path(), {"other.y4m", "--start", "2", "--frames", "68", "--no-log", "--json", "other.json"});
        other_ = json::parse(readFile(dir_ / "other.json"));
        const std::vector<std::string> lines = splitLines(fullLog_);
        logLines_.assign(lines.begin() + 1, lines.end());
    }
    static inline TempDir dir_;
    static inline RunResult plain_, full_;
    static inline std::string plainLog_, fullLog_;
    static inline json doc_, other_;
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

// The JSON against the log, the schema and the CSV (RFC 4180: CR LF line
// ends, empty fields for no value, the same doubles).
TEST_F(Outputs, JsonFollowsTheLogAndTheSchemaAndTheCsvRoundTripsIt) {
    EXPECT_EQ(doc_["input"]["first_frame"], 2);
    EXPECT_EQ(doc_["input"]["frames_examined"], 68);
    EXPECT_EQ(doc_["input"]["width"], 512);
    const json& frames = doc_["frames"];
    ASSERT_EQ(frames.size(), logLines_.size());
    const std::vector<std::string> csv = split(readFile(dir_ / "out.csv"), "\r\n");
    std::string header = "frame,time";
    for (const auto& info : nrvq::kIndicators) header += "," + std::string(info.key);
    header += ",blockiness_mos,blur_mos";
    ASSERT_EQ(csv.size(), frames.size() + 2);
    EXPECT_EQ(csv[0], header);
    EXPECT_EQ(csv.back(), "");  // every line ends with CR LF
    std::vector<std::vector<double>> logged(nrvq::kIndicatorCount);  // measured log values per column
    for (size_t row = 0; row < frames.size(); ++row) {
        const std::vector<std::string> cells = split(csv[row + 1], ",");
        ASSERT_EQ(cells.size(), nrvq::kIndicatorCount + 4);
        EXPECT_EQ(std::stoll(cells[0]), frames[row]["frame"]);
        EXPECT_EQ(std::stod(cells[1]), frames[row]["time"].get<double>());
        for (size_t k = 0; k < 2; ++k) {
            const json& v = frames[row][k == 0 ? "blockiness_mos" : "blur_mos"];
            const std::string& cell = cells[nrvq::kIndicatorCount + 2 + k];
            if (v.is_null()) {
                EXPECT_EQ(cell, "");
            } else {
                EXPECT_EQ(std::stod(cell), v.get<double>());
            }
        }
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
            if (missing[c]) {
                EXPECT_EQ(cells[c + 2], "") << row << " " << c;
            } else {
                EXPECT_EQ(std::stod(cells[c + 2]), v.get<double>()) << row << " " << c;
            }
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

TEST_F(Outputs, ReportIsSelfContainedAndChromiumShowsItsPicturesAndValues) {
    const std::string html = readFile(dir_ / "report.html");
    for (const char* remote : {"http:", "https:", "href=", "url(", "src=\"http", "src=\"file"}) {
        EXPECT_EQ(html.find(remote), std::string::npos) << remote;
    }
    EXPECT_NE(html.find("<div class=\"verdict warning\" id=\"verdict\"><b>WARNING</b>"), std::string::npos);
    if (access("/usr/bin/chromium", X_OK) != 0) GTEST_SKIP() << "chromium is not installed";
    // A page of the test's own loads the report in a frame (file pages may
    // read each other under --allow-file-access-from-files), then writes
    // what it found into itself for --dump-dom: whether the report's script
    // ran to its end, the images and how many decoded, the width drawn of
    // every input's line on every chart, the tooltip with the pointer on
    // frame 40 of the blur chart, and the range after a drag across it.
    std::ofstream(dir_ / "probe.html") << R"(<!DOCTYPE html><body><pre id="out"></pre>
<iframe id="f" width="1280" height="3000" src="report.html"></iframe><script>
const f = document.getElementById('f');
f.onload = () => {
  const w = f.contentWindow, d = f.contentDocument, out = [];
  const images = Array.from(d.images);
  out.push(d.body.dataset.ready, images.length, images.filter(i => i.naturalWidth > 0).length);
  out.push(Math.min(...Array.from(d.querySelectorAll('svg[data-key]')).flatMap(c => ['0', '1'].map(k =>
    Math.max(c.querySelector('.line[data-s="' + k + '"]').getBBox().width,
             c.querySelector('.dots[data-s="' + k + '"]').getBBox().width)))));
  const D = JSON.parse(d.getElementById('nrvq-data').textContent), s = d.querySelector('svg[data-key="blur"]');
  const r = s.getBoundingClientRect(), i = D.first.indexOf(40);
  const at = t => r.left + (D.left + (t - D.t0) / (D.t1 - D.t0) * D.plotW) * r.width / D.width;
  const move = (type, t) => s.dispatchEvent(new w.MouseEvent(type, {clientX: at(t), clientY: r.top + r.height / 2,
    bubbles: true}));
  move('mousemove', (D.time[i] + D.time[i + 1]) / 2);
  out.push(d.getElementById('tip').textContent);
  move('mousedown', D.time[10] + 0.02); move('mousemove', D.time[20] + 0.02); move('mouseup', D.time[20] + 0.02);
  out.push(d.getElementById('zoom-range').textContent);
  document.getElementById('out').textContent = out.join('|');
};
</script>)";
    TempDir profile;
    const std::string dom = (profile / "dom").string(), log = (profile / "log").string();
    const std::string probe = "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic "
                              "--no-first-run --disable-background-networking --disable-component-update "
                              "--disable-sync --allow-file-access-from-files --enable-logging=stderr "
                              "--user-data-dir='" + (profile / "user").string() + "' --dump-dom 'file://" +
                              (dir_ / "probe.html").string() + "' >'" + dom + "' 2>'" + log + "'";
    ASSERT_EQ(std::system(probe.c_str()), 0);
    EXPECT_EQ(readFile(log).find("Uncaught"), std::string::npos) << readFile(log);
    const std::string text = readFile(dom);
    const size_t from = text.find("<pre id=\"out\">") + 14;
    const std::vector<std::string> found = split(text.substr(from, text.find("</pre>") - from), "|");
    ASSERT_EQ(found.size(), 6u) << text.substr(0, 2000);
    EXPECT_EQ(found[0], "yes");  // the script ran to its end
    EXPECT_GT(std::stoi(found[1]), 10);
    EXPECT_EQ(found[2], found[1]);  // every thumbnail decoded
    EXPECT_GT(std::stod(found[3]), 500);  // every input's line drawn across the chart's width
    // "blur 4.29073 · frame 40 · 1.6 s · clip.yuv", then "other.y4m: 3.1 ·
    // frame 40 · 1.6 s": the values each input's JSON holds for frame 40.
    const std::vector<std::string> lines = split(found[4], "\n");
    ASSERT_EQ(lines.size(), 2u) << found[4];
    for (const auto& [line, doc, name] :
         {std::tuple{lines[0], &doc_, "blur"}, std::tuple{lines[1], &other_, "other.y4m:"}}) {
        const double blur = (*doc)["frames"][38]["blur"].get<double>();
        const std::vector<std::string> tip = split(line, " ");
        ASSERT_GE(tip.size(), 5u) << line;
        EXPECT_EQ(tip[0], name);
        EXPECT_NEAR(std::stod(tip[1]), blur, 1e-5 * std::max(1.0, std::fabs(blur))) << line;
        EXPECT_NE(line.find("frame 40 "), std::string::npos) << line;
    }
    EXPECT_NE(doc_["frames"][38]["blur"], other_["frames"][38]["blur"]);
    // Frames 12 to 22 at 25 frames a second, give or take a pixel.
    const std::vector<std::string> range = split(found[5], " ");
    ASSERT_EQ(range.size(), 5u) << found[5];
    EXPECT_NEAR(std::stod(range[0]), 0.5, 0.01);
    EXPECT_NEAR(std::stod(range[3]), 0.9, 0.01);
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

// A compared input needs the report, and one that cannot be read ends the
// run with its name before any output is written.
TEST_F(Streams, ComparedInputsThatFailAreErrors) {
    RunResult r = run({"--compare", "clip.yuv"});
    EXPECT_EQ(r.err.rfind("Invalid --compare \"clip.yuv\": the comparison is drawn in the report", 0), 0u) << r.err;
    writeFile(dir_ / "bad.y4m", "YUV4MPEG2 W32 H16\nFRAME\n");
    for (const char* path : {"missing.y4m", "bad.y4m"}) {
        r = run({"--report", "r.html", "--compare", "clip.yuv", "--compare", path});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err.rfind(std::string("--compare ") + path + ": ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "r.html"));
    }
}

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
}

// Every output kind pointed at a path it must not take: the run stops before
// anything is written, names the output and the path, and every file (the
// input, the other outputs' earlier contents) is as it was, with nothing
// left behind.
TEST_F(Streams, RefusedOutputsLeaveEveryFileAsItWas) {
    std::filesystem::create_symlink("clip.yuv", dir_ / "link.yuv");
    std::filesystem::create_hard_link(dir_ / "clip.yuv", dir_ / "hard.yuv");
    std::filesystem::create_directory(dir_ / "ro");
    std::filesystem::permissions(dir_ / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"--log", "old.log"}, {"--json", "old.json"}, {"--csv", "old.csv"}, {"--report", "old.html"},
        {"--events", "old.events"}};
    std::vector<std::string> targets = {"clip.yuv", "link.yuv", "hard.yuv", "", "", "no/such/folder/out",
                                        "/proc/self/out", "/dev/full", "ro"};
    if (geteuid() != 0) targets.push_back("ro/out");  // root may write in a read-only folder
    const auto listing = [this] {
        std::string names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) names += entry.path().filename().string() + " ";
        return names;
    };
    const std::string clip = readFile(dir_ / "clip.yuv");
    for (size_t k = 0; k < kinds.size(); ++k) {
        for (size_t t = 0; t < targets.size(); ++t) {
            std::string target = targets[t];
            if (t == 3) target = kinds[(k + 1) % kinds.size()].second;  // another output's path
            std::vector<std::string> args = {"clip.yuv", "32", "16"};
            for (size_t o = 0; o < kinds.size(); ++o) {
                writeFile(dir_ / kinds[o].second, "earlier " + kinds[o].first + "\n");
                args.insert(args.end(), {kinds[o].first, o == k ? target : kinds[o].second});
            }
            SCOPED_TRACE(kinds[k].first + " " + target);
            const std::string before = listing();
            const RunResult r = runTool(dir_.path(), args);
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(r.out, "");
            // Two outputs on one path: the later one in the plan is named.
            const std::string named = target.empty() ? "Invalid " + kinds[k].first + " \"\""
                                      : t == 3       ? kinds[std::max(k, (k + 1) % kinds.size())].first + " " + target
                                                     : kinds[k].first + " " + target;
            EXPECT_EQ(r.err.rfind(named, 0), 0u) << r.err;
            EXPECT_EQ(readFile(dir_ / "clip.yuv"), clip);
            for (const auto& [option, path] : kinds) EXPECT_EQ(readFile(dir_ / path), "earlier " + option + "\n");
            EXPECT_EQ(listing(), before);
        }
    }
    // Standard output taken twice, and standard output that is the input.
    EXPECT_EQ(run({"--json", "-", "--csv", "-"}).err, "--csv -: --json writes there too; give each output its own path\n");
    EXPECT_EQ(shell(dir_.path(), NRVQ_BINARY " clip.yuv 32 16 --no-log >>clip.yuv 2>err.txt"), 255);
    EXPECT_EQ(readFile(dir_ / "clip.yuv"), clip);
    EXPECT_EQ(readFile(dir_ / "err.txt"), "Standard output is the input itself; send it elsewhere\n");
    EXPECT_EQ(shell(dir_.path(), NRVQ_BINARY " clip.yuv 32 16 --log old.log >old.log 2>err.txt"), 255);
    EXPECT_EQ(readFile(dir_ / "err.txt"),
              "--log old.log: standard output writes there too; give each output its own path\n");
    writeFile(dir_ / "old.log", "earlier --log\n");  // (emptied by the redirection above)
    EXPECT_EQ(shell(dir_.path(), NRVQ_BINARY " clip.yuv 32 16 --log old.log >/dev/full 2>err.txt"), 255);
    EXPECT_EQ(readFile(dir_ / "err.txt"), "Standard output: No space left on device\n");
    EXPECT_EQ(readFile(dir_ / "old.log"), "earlier --log\n");
    // A write that fails once the run is under way (a file size limit): the
    // earlier file stays, and no temporary is left.
    const std::string before = listing();
    EXPECT_EQ(shell(dir_.path(), "ulimit -f 1; trap '' XFSZ; " NRVQ_BINARY
                                 " clip.yuv 32 16 --no-log --quiet --csv old.csv 2>err.txt"), 255);
    EXPECT_EQ(readFile(dir_ / "err.txt"), "Cannot write the CSV output old.csv: File too large\n");
    EXPECT_EQ(readFile(dir_ / "old.csv"), "earlier --csv\n");
    EXPECT_EQ(listing(), before);
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
