// The tool as a whole: command line, frame reads, rows, results log, report.
// Runs the built binary on generated clips and compares its output exactly,
// except for the processor-time figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "engine/analyzer.h"
#include "engine/frame.h"
#include "io/text_output.h"
#include "testing.h"

namespace {

using clips::Plane;
using nrvq::FrameRecord;
using namespace testing_support;

const std::string kUsageTail =
    " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
    ", where [***] is optional parameter.\n\n";

// The report with every processor-time figure written as 9.9.
const std::string kReport =
    "Calculation time: \t9.9 seconds overall \n \t\t\t9.9 milliseconds per frame\n\n"
    "Average calculation time per frame for each metric: \n"
    "\tBlockiness: 9.9 ms \tSpatialAct: 9.9 ms \tLetterbox: 9.9 ms \n"
    "\tPillarbox: 9.9 ms \t\tBlockLoss: 9.9 ms \t\tBlur: 9.9 ms \n"
    " \tExposure: 9.9 ms \t\tInterlace: 9.9 ms \t\tNoise: 9.9 ms \n"
    " \tSlice: 9.9 ms\t\tBlackout: 9.9 ms \t\tTemporal: 9.9 ms \n"
    " \tFreezing : 9.9 ms\t\tFlickering: 9.9 ms \tContrast: 9.9 ms\n"
    "\nFile stream closed\n\n";

// Writes every figure (signed digits, not-a-number, infinity) as 9.9.
std::string maskFigures(std::string text) {
    for (const std::string word : {"-nan", "nan", "-inf", "inf"}) {
        for (size_t at; (at = text.find(word)) != std::string::npos;) text.replace(at, word.size(), "9.9");
    }
    const auto digit = [&text](size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
    std::string masked;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-' && digit(i + 1)) continue;  // the sign of a figure
        if (!digit(i) || masked.empty() || masked.back() != '9') masked += digit(i) ? '9' : text[i];
    }
    return masked;
}

std::string textRow(void (*append)(const FrameRecord&, std::string&), const FrameRecord& r) {
    std::string row;
    append(r, row);
    return row;
}

// Replays a run in this process with the literal indicators: the records
// that the tool must print and log.
class Replay {
public:
    Replay(int32_t w, int32_t h, double fps) : analyzer_(w, h, fps, literal()) {}

    FrameRecord next(int32_t index, const Plane& plane) {
        FrameRecord r = analyzer_.push(plane.samples.data(), plane.w);
        r.index = index;
        return r;
    }

private:
    static nrvq::AnalyzerOptions literal() {
        nrvq::AnalyzerOptions options;
        options.reference = true;
        return options;
    }
    nrvq::Analyzer analyzer_;
};

// The FPS, frame count and start frame as the start-up lines show them, the
// frames examined, and all of standard error.
struct Expected { const char* fps; int frames, start; size_t rows; std::string err; };

// Runs the tool on args (file, width, height, ...) naming a file of frames and
// checks all it writes: the start-up lines, the rows against a replay from
// the start frame on, the report, the log and standard error. Returns the rows.
std::vector<std::string> expectRun(const TempDir& dir, const std::vector<std::string>& args,
                                   const std::vector<Plane>& frames, const Expected& e) {
    const RunResult result = runTool(dir.path(), args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, e.err);
    const std::string startup = "Video file " + args[0] + " opened successfully!\n\nWidth = " + args[1] +
                                ", Height = " + args[2] + ", FPS = " + e.fps + ", Number of Frames = " +
                                std::to_string(e.frames) + ", Start Frame = " + std::to_string(e.start) + "\n\n" +
                                nrvq::consoleHeader() + "\n";
    EXPECT_EQ(result.out.substr(0, startup.size()), startup);
    std::vector<std::string> lines = splitLines(result.out.substr(std::min(startup.size(), result.out.size())));
    lines.resize(std::max(lines.size(), e.rows));
    Replay replay(frames[0].w, frames[0].h, std::atof(e.fps));
    std::string log, report;
    for (size_t k = 0; k < e.rows; ++k) {
        const FrameRecord r = replay.next(e.start + static_cast<int32_t>(k), frames.at(e.start + k));
        EXPECT_EQ(lines[k] + "\n", textRow(nrvq::appendConsoleRow, r)) << "frame " << r.index;
        log += textRow(nrvq::appendLogRow, r);
    }
    if (e.rows > 0) {  // the temporal columns at their start values
        const std::vector<std::string> first = splitFields(lines[0]);
        EXPECT_EQ((std::vector<std::string>{first.at(7), first.at(9), first.at(15)}),
                  (std::vector<std::string>{"0.00000", "0", "0.00000"}));
    }
    for (size_t k = e.rows; k < lines.size(); ++k) report += lines[k] + "\n";
    EXPECT_EQ(maskFigures(report), kReport);
    if (e.rows == 0) {  // times over no frame are zero, not a division by zero
        EXPECT_NE(report.find("\t0.000000 milliseconds per frame"), std::string::npos) << report;
        EXPECT_NE(report.find("Blockiness: 0.000000 ms"), std::string::npos) << report;
    }
    EXPECT_EQ(readFile(dir / "metricsResultsCSV.csv"), nrvq::logHeader() + log);
    lines.resize(e.rows);
    return lines;
}

TEST(Rows, ConsoleAndLogFieldWidths) {
    FrameRecord r;
    r.index = 7;
    r.values = {0.987654321, 12.5, 0.25, 1.0, -1.0, 3.14159, 2.0, 1.0, 0.0, 127.9, 47.123456, 0.0, 1.98112, 1.5, 0.125};
    EXPECT_EQ(textRow(nrvq::appendConsoleRow, r),
              "00007 \t0.98765 \t12.50000 \t\t0.25000 \t1.00000 \t-1.00000 \t3.142   \t2.00000 \t1 \t\t0 \t\t127    "
              "\t\t47.12346 \t0.00000 \t1.9811   \t1.500   \t0.12500\n");
    EXPECT_EQ(textRow(nrvq::appendLogRow, r),
              "00007 \t0.98765 \t12.50000 \t0.25000 \t1.00000 \t-1.00000 \t3.142 \t2.00000 \t1 \t0 \t127    "
              "\t47.12346 \t0.00000 \t1.9811   \t1.500   \t0.12500\n");
    // A wider frame number, infinity, not-a-number, and exposure truncated toward zero.
    r.index = 123456;
    r.values[nrvq::kBlockiness] = 1.0 / 0.0;
    r.values[nrvq::kLetterbox] = 0.0 / 0.0;
    r.values[nrvq::kExposure] = -0.5;
    const std::vector<std::string> got = splitFields(textRow(nrvq::appendLogRow, r));
    EXPECT_EQ(got[0], "123456");
    EXPECT_EQ(got[1], "inf");
    EXPECT_TRUE(got[3] == "nan" || got[3] == "-nan") << got[3];
    EXPECT_EQ(got[10], "0");
}

TEST(Rows, TimingReportAveragesOverTheFramesExamined) {
    nrvq::Timings timings;
    for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) timings.seconds[c] = 0.001 * static_cast<double>(c + 1);
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    nrvq::printTimingReport(out, timings, 0.5, 4);
    std::fclose(out);
    const std::string four(text, size);
    std::free(text);
    EXPECT_NE(four.find("\t0.500000 seconds overall \n \t\t\t125.000000 milliseconds per frame"), std::string::npos);
    EXPECT_NE(four.find("\tBlockiness: 0.250000 ms"), std::string::npos) << four;
    EXPECT_NE(four.find("\tFlickering: 3.750000 ms"), std::string::npos) << four;
}

TEST(CommandLine, RejectedArgumentsPrintUsageOnStandardErrorAndTouchNothing) {
    TempDir dir;
    writeRawClip(dir / "clip.yuv", textureFrames(32, 16, 2));
    const std::string usage = std::string("Usage : ") + NRVQ_BINARY + kUsageTail;
    const std::string names[] = {"FILE", "WIDTH", "HEIGHT", "FPS", "NumberOfFrames", "startFrame"};
    // Too few arguments (a raw file alone is not enough): "" below. Then
    // arguments rejected by the index of the one named; 46341 x 46341 is a
    // luma plane that fits and a frame that does not.
    std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, ""}, {{"clip.yuv"}, ""}, {{"missing.yuv"}, ""}, {{"clip.yuv", "32"}, ""},
        {{"clip.yuv", "65536", "65536"}, "Invalid HEIGHT"}, {{"clip.yuv", "46341", "46341"}, "Invalid HEIGHT"},
        {{"clip.yuv", "32", "16", "25", "2", "0", "extra"}, "Invalid argument \"extra\": expected at most six"},
        {{"clip.yuv", "32", "16", "--fps", "0x10"}, "Invalid --fps \"0x10\": expected a decimal number or a "
                                                     "fraction N/D from 0.001 to 100000"},
        {{"clip.yuv", "32", "16", "--fps", "1e3"}, "Invalid --fps"}, {{"clip.yuv", "32", "16", "--fps", "1/0"}, "Invalid --fps"},
        {{"clip.yuv", "32", "16", "--threads", "257"}, "Invalid --threads \"257\": expected a whole number from 0"},
        {{"clip.yuv", "32", "16", "--reference", "--simd", "avx2"}, "Invalid --simd \"avx2\": --reference runs"},
        {{"clip.yuv", "32", "16", "--log", "x", "--no-log"}, "Invalid --log \"x\": --no-log writes no log"},
        {{"clip.yuv", "32", "16", "--csv", ""}, "Invalid --csv \"\": expected a path"},
        {{"clip.yuv", "32", "16", "--report", "-"}, "Invalid --report \"-\": expected a file path"},
        {{"clip.yuv", "32", "16", "--window", "10m"}, "Invalid --window \"10m\": expected a duration"},
        {{"clip.yuv", "32", "16", "--listen", "localhost"}, "Invalid --listen \"localhost\": expected HOST:PORT"},
        {{"clip.yuv", "32", "16", "--input-option", "timeout"}, "Invalid --input-option \"timeout\": expected KEY"},
        {{"clip.yuv", "32", "16", "--frobnicate"}, "Invalid argument \"--frobnicate\": expected an option"}};
    for (const auto& [at, value] : std::vector<std::pair<int, std::string>>{
             {0, ""}, {1, "abc"}, {1, "32px"}, {1, "0"}, {1, "-32"}, {1, " 32"}, {1, "99999999999"}, {2, ""},
             {3, "fast"}, {3, "0"}, {3, "-25"}, {3, "inf"}, {3, "nan"}, {3, "100001"}, {4, "ten"}, {4, "1.5"},
             {5, "-1"}, {5, "1e2"}}) {
        std::vector<std::string> args = {"clip.yuv", "32", "16", "25", "2", "0"};
        args.resize(std::max(3, at + 1));
        args[at] = value;
        cases.push_back({args, "Invalid " + names[at] + " \"" + value + "\": "});
    }
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args.empty() ? "no arguments" : args.back());
        const RunResult result = runTool(dir.path(), args);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, "");  // nothing lands in what a pipe takes as data
        if (message.empty()) {
            EXPECT_EQ(result.err, "Not enough parameters\n\n" + usage);
        } else {
            EXPECT_EQ(result.err.rfind(message, 0), 0u) << result.err;
            EXPECT_EQ(result.err.substr(result.err.find('\n') + 1), usage);
        }
        EXPECT_FALSE(std::filesystem::exists(dir / "metricsResultsCSV.csv"));
    }
}

// The manual page, the bash completion and the README name every option and
// exit status that --help gives, so that none of them falls behind.
TEST(CommandLine, TheManualCompletionAndReadmeHoldEveryOptionAndStatusOfTheHelp) {
    const TempDir dir;
    const std::string help = runTool(dir.path(), {"--help"}).out;
    const std::filesystem::path source = std::filesystem::path(NRVQ_OUTPUT_SCHEMA).parent_path().parent_path();
    const std::string manual = readFile(source / "docs/nrvq.1");
    const std::string readme = readFile(source / "README.md");
    std::set<std::string> completion;
    const std::string script = readFile(source / "scripts/nrvq.bash-completion");
    const std::regex word("--[a-z0-9-]+");
    for (auto w = std::sregex_iterator(script.begin(), script.end(), word); w != std::sregex_iterator(); ++w) {
        completion.insert(w->str());
    }
    const std::regex option(R"(^ +(?:-h,)?(--[a-z0-9-]+))", std::regex::multiline);
    size_t options = 0;
    for (auto m = std::sregex_iterator(help.begin(), help.end(), option); m != std::sregex_iterator(); ++m, ++options) {
        const std::string name = (*m)[1];
        EXPECT_NE(manual.find(std::regex_replace(name, std::regex("-"), "\\-")), std::string::npos) << name;
        EXPECT_TRUE(completion.count(name)) << name;
        EXPECT_NE(readme.find("`" + name), std::string::npos) << name;
    }
    EXPECT_GE(options, 20u);
    const std::string statusLine = help.substr(help.find("Exit status:"));
    const std::regex number(R"(\b\d+\b)");
    for (auto n = std::sregex_iterator(statusLine.begin(), statusLine.end(), number); n != std::sregex_iterator(); ++n) {
        EXPECT_TRUE(std::regex_search(manual, std::regex("\n\\.BR? (.* )?" + n->str() + "\\b"))) << n->str();
    }
}

TEST(Run, SelectedFramesRowsLogAndReport) {
    TempDir dir;
    const std::vector<Plane> frames = textureFrames(32, 16, 14, 3, 2, 7);
    writeRawClip(dir / "clip.yuv", frames);
    writeFile(dir / "clip.yuv", readFile(dir / "clip.yuv") + std::string(100, '\x10'));  // a frame cut short
    struct Case { std::vector<std::string> more; Expected expected; };
    for (const Case& c : std::vector<Case>{
             {{}, {"25.00", 14, 0, 14, "Warning: clip.yuv ends with 100 bytes that are not a whole frame of 32x16 "
                                       "yuv420p (768 bytes); they are not examined\n"}},
             {{"24", "3", "10"}, {"24.00", 3, 10, 3, ""}},  // frame 10 is not compared with frame 9
             {{"25", "6", "12"}, {"25.00", 6, 12, 2, "Warning: 4 of the 6 requested frames are not in the file\n"}},
             {{"25", "2", "50"}, {"25.00", 2, 50, 0, "Warning: 2 of the 2 requested frames are not in the file\n"}},
             {{"25", "0"}, {"25.00", 0, 0, 0, ""}},
             {{"25", "-4"}, {"25.00", -4, 0, 0, ""}},
         }) {
        std::vector<std::string> args = {"clip.yuv", "32", "16"};
        args.insert(args.end(), c.more.begin(), c.more.end());
        SCOPED_TRACE(args.back());
        expectRun(dir, args, frames, c.expected);
    }
}

TEST(Run, FramesAreReadAtTheirOffsetsForOddSizes) {
    // A 3 x 3 frame is 17 bytes: two 2 x 2 chroma planes follow the luma.
    // Each luma plane is constant and the chroma bytes are 255, so a read at
    // a wrong offset would mix them in.
    TempDir dir;
    std::string bytes;
    std::vector<Plane> frames;
    for (int k = 0; k < 4; ++k) {
        frames.emplace_back(3, 3, static_cast<uint8_t>(10 * (k + 1)));
        bytes += std::string(9, static_cast<char>(10 * (k + 1))) + std::string(8, '\xff');
    }
    writeFile(dir / "odd.yuv", bytes);
    expectRun(dir, {"odd.yuv", "3", "3", "30"}, frames, {"30.00", 4, 0, 4, ""});
}

TEST(Run, TemporalColumnsFollowRepeatsChangesAndAlternations) {
    // 48 x 48 frames (36 blocks): a still that repeats, a change, then a
    // picture in which one block alternates between changing and standing
    // still while the rest stays put.
    TempDir dir;
    std::vector<Plane> frames(5, clips::texture(48, 48, 0, 3, 2, 5));
    for (int t = 5; t < 21; ++t) {
        frames.push_back(clips::texture(48, 48, 9, 3, 2, 5));
        frames.back().at(3, 3) = static_cast<uint8_t>((t + 1) / 2);  // changes on odd frames only
    }
    writeRawClip(dir / "clip.yuv", frames);
    const std::vector<std::string> rows = expectRun(dir, {"clip.yuv", "48", "48"}, frames, {"25.00", 21, 0, 21, ""});
    // Flickering reports on the 9th and the 17th frame. In the first period
    // (frames 1 ... 8) the alternating block switches on frames 5 to 8, in
    // the second (frames 9 ... 16) on every frame.
    EXPECT_EQ(splitFields(rows[7])[15], "-1.00000");
    EXPECT_EQ(splitFields(rows[8])[15], "0.50000");
    EXPECT_EQ(splitFields(rows[16])[15], "1.00000");
}

TEST(Run, TinyAndOddFrameSizesRunToTheEnd) {
    // Every indicator on frames too small for its blocks, past a whole
    // flickering period; the sanitizer build checks every access.
    TempDir dir;
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {2, 3}, {7, 1}, {1, 9}, {17, 9}, {9, 50}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        const std::vector<Plane> frames = textureFrames(w, h, 10, 3, 2, 7);
        writeRawClip(dir / "clip.yuv", frames);
        expectRun(dir, {"clip.yuv", std::to_string(w), std::to_string(h)}, frames, {"25.00", 10, 0, 10, ""});
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// (The sanitizers reserve more address space than the limit allows.)
TEST(Run, ExhaustedMemoryStopsWithAMessage) {
    TempDir dir;
    // One frame of that size, sparse: it takes no room on the disk.
    writeRawClip(dir / "clip.yuv", textureFrames(32, 16, 1));
    std::filesystem::resize_file(dir / "clip.yuv", 30000ull * 30000 * 3 / 2);
    const RunResult result = runTool(dir.path(), {"clip.yuv", "30000", "30000", "25", "1"}, "ulimit -v 400000;");
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Out of memory: the images for this frame size cannot be allocated\n");
}
#endif

}  // namespace
