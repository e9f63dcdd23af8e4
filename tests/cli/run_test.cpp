// The tool as a whole: command line, frame reads, rows, results log, report.
// Runs the built binary on generated clips and compares its output exactly,
// except for the processor-time figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "metrics/blackout.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/flickering.h"
#include "metrics/freezing.h"
#include "metrics/interlace.h"
#include "metrics/letterbox.h"
#include "metrics/noise.h"
#include "metrics/pillarbox.h"
#include "metrics/slice.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"
#include "engine/frame.h"
#include "io/text_output.h"
#include "testing.h"

namespace {

using clips::Plane;
using nrvq::FrameRecord;
using testing_support::format;
using testing_support::readFile;
using testing_support::RunResult;
using testing_support::runTool;
using testing_support::splitFields;
using testing_support::splitLines;
using testing_support::TempDir;

const std::string kUsageTail =
    " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
    ", where [***] is optional parameter.\n\n";

const std::string kConsoleHeader =
    "Frame: \tBlockiness: \tSpatial Activity: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \t\tTemporalAct: "
    "\tBlackout: \tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: \t\tSlice: \t\tFlickering:";

const std::string kLogHeader =
    "Frame: \tBlockiness: \tSA: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \tTA: \tBlackout: \tFreezing: "
    "\tExposure(bri): \tContrast: \tInterlace: \tNoise: \tSlice: \tFlickering:\n";

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
    for (const char* word : {"-nan", "nan", "-inf", "inf"}) {
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) {
            text.replace(at, std::strlen(word), "9.9");
        }
    }
    std::string masked;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '-' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            continue;  // the sign of a figure
        }
        const char mapped = (c >= '0' && c <= '9') ? '9' : c;
        if (!(mapped == '9' && !masked.empty() && masked.back() == '9')) {
            masked += mapped;
        }
    }
    return masked;
}

// The frames of a test clip: textured content, different in every frame.
std::vector<Plane> movingFrames(int32_t w, int32_t h, int count) {
    std::vector<Plane> frames;
    for (int t = 0; t < count; ++t) {
        frames.push_back(clips::texture(w, h, t, 3, 2, 7));
    }
    return frames;
}

void writeClip(const std::filesystem::path& path, const std::vector<Plane>& frames) {
    clips::ClipWriter writer(path.string());
    for (const Plane& frame : frames) {
        writer.write(frame);
    }
    writer.close();
}

std::string consoleRow(int32_t frame, FrameRecord r) {
    r.index = frame;
    std::string row;
    nrvq::appendConsoleRow(r, row);
    return row;
}
std::string logRow(int32_t frame, FrameRecord r) {
    r.index = frame;
    std::string row;
    nrvq::appendLogRow(r, row);
    return row;
}

// Replays a run in this process with the library's indicators and fresh
// temporal state: the console rows that the tool must print.
class Replay {
public:
    Replay(int32_t w, int32_t h, double fps)
        : fps_(fps), counts_(callocImage(static_cast<uint64_t>(w) / 8, static_cast<uint64_t>(h) / 8)),
          states_(callocImage(static_cast<uint64_t>(w) / 8, static_cast<uint64_t>(h) / 8)) {}

    std::string row(int32_t index, const Plane& plane) {
        Plane copy = plane;
        const Image frame = makeImage(static_cast<uint64_t>(plane.w), static_cast<uint64_t>(plane.h),
                                      copy.samples.data());
        using namespace nrvq;
        double* v = r_.values.data();
        v[kBlockiness] = blockiness(&frame);
        v[kSpatialActivity] = spatialActivity(&frame);
        v[kLetterbox] = letterbox(&frame);
        v[kPillarbox] = pillarbox(&frame);
        v[kBlockLoss] = blockLoss(&frame);
        v[kBlur] = blur(&frame);
        v[kExposure] = exposure(&frame);
        v[kInterlace] = interlace(&frame);
        v[kNoise] = noise(&frame);
        v[kSlice] = slice(&frame);
        v[kBlackout] = blackout(&frame) ? 1.0 : 0.0;
        v[kContrast] = contrastRMS(&frame);
        if (!previous_.samples.empty()) {
            const Image previous = makeImage(frame.w, frame.h, previous_.samples.data());
            v[kTemporalActivity] = temporalActivity(&frame, &previous);
            v[kFreezing] = freezing_.update(v[kBlackout] != 0.0, v[kTemporalActivity], fps_) ? 1.0 : 0.0;
            v[kFlickering] = flickering_.update(&frame, &previous, counts_.get(), states_.get());
        }
        previous_ = plane;
        std::string text = consoleRow(index, r_);
        text.pop_back();  // the newline
        return text;
    }

private:
    double fps_;
    FrameRecord r_;
    FreezingState freezing_;
    FlickeringState flickering_;
    OwnedImage<Image> counts_;
    OwnedImage<Image> states_;
    Plane previous_;
};

std::string startupLines(const std::string& path, int w, int h, const char* fps, int frames, int start) {
    return "Video file " + path + " opened successfully!\n\n" +
           format("Width = %d, Height = %d, FPS = %s, Number of Frames = %d, Start Frame = %d\n\n", w, h, fps,
                  frames, start) +
           kConsoleHeader + "\n";
}

// Checks the start-up lines and the header; returns the lines after them.
std::vector<std::string> linesAfter(const std::string& start, const RunResult& result) {
    EXPECT_EQ(result.out.substr(0, start.size()), start);
    return splitLines(result.out.substr(std::min(start.size(), result.out.size())));
}

void appendTo(const std::filesystem::path& path, const void* bytes, size_t count) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    std::fwrite(bytes, 1, count, file);
    std::fclose(file);
}

// ---- Rows ------------------------------------------------------------------------

TEST(Rows, ConsoleAndLogFieldWidths) {
    FrameRecord r;
    r.values = {0.987654321, 12.5, 0.25, 1.0, -1.0, 3.14159, 2.0, 1.0, 0.0, 127.9, 47.123456, 0.0, 1.98112, 1.5, 0.125};
    EXPECT_EQ(consoleRow(7, r),
              "00007 \t0.98765 \t12.50000 \t\t0.25000 \t1.00000 \t-1.00000 \t3.142   \t2.00000 \t1 \t\t0 \t\t127    "
              "\t\t47.12346 \t0.00000 \t1.9811   \t1.500   \t0.12500\n");
    EXPECT_EQ(logRow(7, r),
              "00007 \t0.98765 \t12.50000 \t0.25000 \t1.00000 \t-1.00000 \t3.142 \t2.00000 \t1 \t0 \t127    "
              "\t47.12346 \t0.00000 \t1.9811   \t1.500   \t0.12500\n");
}

TEST(Rows, NonFiniteValuesAndExposureTruncation) {
    FrameRecord r;
    r.values[nrvq::kBlockiness] = 1.0 / 0.0;
    r.values[nrvq::kLetterbox] = 0.0 / 0.0;
    r.values[nrvq::kExposure] = -0.5;  // truncates toward zero
    const std::vector<std::string> got = splitFields(logRow(123456, r));
    EXPECT_EQ(got[0], "123456");
    EXPECT_EQ(got[1], "inf");
    EXPECT_TRUE(got[3] == "nan" || got[3] == "-nan") << got[3];
    EXPECT_EQ(got[10], "0");
}

TEST(Rows, TimingReportAveragesOverTheFramesExamined) {
    nrvq::Timings timings;
    for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
        timings.seconds[c] = 0.001 * static_cast<double>(c + 1);
    }
    const auto report = [&](double frames) {
        char* text = nullptr;
        size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        nrvq::printTimingReport(out, timings, 0.5, frames);
        std::fclose(out);
        const std::string result(text, size);
        std::free(text);
        return result;
    };
    const std::string four = report(4);
    EXPECT_NE(four.find("\t0.500000 seconds overall \n \t\t\t125.000000 milliseconds per frame"), std::string::npos);
    EXPECT_NE(four.find("\tBlockiness: 0.250000 ms"), std::string::npos) << four;
    EXPECT_NE(four.find("\tFlickering: 3.750000 ms"), std::string::npos) << four;
    EXPECT_NE(report(0).find("\t0.000000 milliseconds per frame"), std::string::npos);
}

// ---- Command line ------------------------------------------------------------

TEST(CommandLine, TooFewArgumentsPrintUsageAndTouchNothing) {
    TempDir dir;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"clip.yuv"}, {"clip.yuv", "32"}}) {
        const RunResult result = runTool(dir.path(), args);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, std::string("Not enough parameters\n\nUsage : ") + NRVQ_BINARY + kUsageTail);
        EXPECT_EQ(result.err, "");
        EXPECT_FALSE(std::filesystem::exists(dir / "metricsResultsCSV.csv"));
    }
}

TEST(CommandLine, BadArgumentsAreRejectedBeforeAnythingIsOpened) {
    TempDir dir;
    writeClip(dir / "clip.yuv", movingFrames(32, 16, 2));
    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    const std::vector<Case> cases = {
        {{"clip.yuv", "abc", "16"}, "WIDTH \"abc\""},
        {{"clip.yuv", "32px", "16"}, "WIDTH \"32px\""},
        {{"clip.yuv", "0", "16"}, "WIDTH \"0\""},
        {{"clip.yuv", "-32", "16"}, "WIDTH \"-32\""},
        {{"clip.yuv", " 32", "16"}, "WIDTH \" 32\""},
        {{"clip.yuv", "99999999999", "16"}, "WIDTH \"99999999999\""},
        {{"clip.yuv", "32", ""}, "HEIGHT \"\""},
        {{"clip.yuv", "65536", "65536"}, "HEIGHT \"65536\""},
        {{"clip.yuv", "46341", "46341"}, "HEIGHT \"46341\""},  // luma fits, frame size does not
        {{"clip.yuv", "32", "16", "fast"}, "FPS \"fast\""},
        {{"clip.yuv", "32", "16", "0"}, "FPS \"0\""},
        {{"clip.yuv", "32", "16", "-25"}, "FPS \"-25\""},
        {{"clip.yuv", "32", "16", "inf"}, "FPS \"inf\""},
        {{"clip.yuv", "32", "16", "nan"}, "FPS \"nan\""},
        {{"clip.yuv", "32", "16", "25", "ten"}, "NumberOfFrames \"ten\""},
        {{"clip.yuv", "32", "16", "25", "1.5"}, "NumberOfFrames \"1.5\""},
        {{"clip.yuv", "32", "16", "25", "2", "-1"}, "startFrame \"-1\""},
        {{"clip.yuv", "32", "16", "25", "2", "1e2"}, "startFrame \"1e2\""},
    };
    for (const Case& c : cases) {
        const RunResult result = runTool(dir.path(), c.args);
        EXPECT_EQ(result.status, 255) << c.named;
        const std::vector<std::string> errLines = splitLines(result.err);
        ASSERT_EQ(errLines.size(), 1u) << result.err;
        EXPECT_EQ(errLines[0].rfind("Invalid " + c.named + ": ", 0), 0u) << errLines[0];
        EXPECT_EQ(result.out, std::string("Usage : ") + NRVQ_BINARY + kUsageTail);
        EXPECT_FALSE(std::filesystem::exists(dir / "metricsResultsCSV.csv")) << c.named;
    }
}

TEST(CommandLine, MissingVideoFailsAndKeepsAnEarlierLog) {
    TempDir dir;
    {
        std::FILE* old = std::fopen((dir / "metricsResultsCSV.csv").c_str(), "w");
        std::fputs("old rows\n", old);
        std::fclose(old);
    }
    const RunResult result = runTool(dir.path(), {"missing.yuv", "32", "16"});
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Error opening the file missing.yuv: No such file or directory \n");
    EXPECT_EQ(readFile(dir / "metricsResultsCSV.csv"), "old rows\n");
}

// ---- Whole runs ----------------------------------------------------------------

TEST(Run, DefaultsRowsLogAndReport) {
    TempDir dir;
    const std::vector<Plane> frames = movingFrames(32, 16, 3);
    writeClip(dir / "clip.yuv", frames);
    appendTo(dir / "clip.yuv", "partial", 7);  // a partial frame at the end is not counted
    const RunResult result = runTool(dir.path(), {"clip.yuv", "32", "16"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err,
              "Warning: clip.yuv ends with 7 bytes that are not a whole frame of 32x16 yuv420p (768 bytes); they are "
              "not examined\n");

    const std::vector<std::string> lines = linesAfter(startupLines("clip.yuv", 32, 16, "25.00", 3, 0), result);
    ASSERT_GE(lines.size(), 3u);
    Replay replay(32, 16, 25.0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lines[k], replay.row(k, frames[k]));
    }
    // The first row shows the temporal columns at their start values.
    const std::vector<std::string> first = splitFields(lines[0]);
    EXPECT_EQ(first[7], "0.00000");
    EXPECT_EQ(first[9], "0");
    EXPECT_EQ(first[15], "0.00000");

    std::string report;
    for (size_t k = 3; k < lines.size(); ++k) {
        report += lines[k] + "\n";
    }
    EXPECT_EQ(maskFigures(report), kReport);

    // The log holds the same values, tab-separated, under its own header.
    const std::string log = readFile(dir / "metricsResultsCSV.csv");
    ASSERT_EQ(log.substr(0, 163), kLogHeader);
    const std::vector<std::string> logLines = splitLines(log.substr(163));
    ASSERT_EQ(logLines.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(splitFields(logLines[k]), splitFields(lines[k]));
        EXPECT_EQ(logLines[k].find("\t\t"), std::string::npos);
    }
}

TEST(Run, FramesAreReadAtTheirOffsetsForOddSizes) {
    // A 3 x 3 frame is 17 bytes: two 2 x 2 chroma planes follow the luma.
    // Each luma plane is constant and the chroma bytes are 255, so a read at
    // a wrong offset would mix them in.
    TempDir dir;
    std::string bytes;
    for (int k = 0; k < 4; ++k) {
        bytes += std::string(9, static_cast<char>(10 * (k + 1))) + std::string(8, '\xff');
    }
    appendTo(dir / "odd.yuv", bytes.data(), bytes.size());
    const RunResult result = runTool(dir.path(), {"odd.yuv", "3", "3", "30"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = linesAfter(startupLines("odd.yuv", 3, 3, "30.00", 4, 0), result);
    ASSERT_GE(lines.size(), 4u);
    Replay replay(3, 3, 30.0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(lines[k], replay.row(k, Plane(3, 3, static_cast<uint8_t>(10 * (k + 1)))));
    }
}

TEST(Run, StartFrameAndCountSelectFrames) {
    TempDir dir;
    const std::vector<Plane> frames = movingFrames(32, 16, 14);
    writeClip(dir / "clip.yuv", frames);
    const RunResult result = runTool(dir.path(), {"clip.yuv", "32", "16", "24", "3", "10"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = linesAfter(startupLines("clip.yuv", 32, 16, "24.00", 3, 10), result);
    ASSERT_GE(lines.size(), 4u);
    const std::vector<std::string> first = splitFields(lines[0]);
    EXPECT_EQ(first[0], "00010");
    EXPECT_EQ(first[7], "0.00000");
    EXPECT_EQ(first[9], "0");
    EXPECT_EQ(first[15], "0.00000");
    // Frame 11 is compared with frame 10, not with anything before it.
    Replay replay(32, 16, 24.0);
    for (int k = 10; k < 13; ++k) {
        EXPECT_EQ(lines[k - 10], replay.row(k, frames[k]));
    }
    EXPECT_EQ(lines[3].rfind("Calculation time: ", 0), 0u);
}

TEST(Run, FrameCountOfZeroOrLessWritesNoRows) {
    TempDir dir;
    writeClip(dir / "clip.yuv", movingFrames(32, 16, 2));
    for (const char* count : {"0", "-4"}) {
        const RunResult result = runTool(dir.path(), {"clip.yuv", "32", "16", "25", count});
        ASSERT_EQ(result.status, 0) << result.err;
        const std::string start = startupLines("clip.yuv", 32, 16, "25.00", std::atoi(count), 0);
        ASSERT_EQ(result.out.substr(0, start.size()), start);
        EXPECT_EQ(maskFigures(result.out.substr(start.size())), kReport);
        EXPECT_EQ(readFile(dir / "metricsResultsCSV.csv"), kLogHeader);
    }
}

TEST(Run, FramesMissingFromTheFileAreNotExamined) {
    TempDir dir;
    const std::vector<Plane> frames = movingFrames(32, 16, 3);
    writeClip(dir / "clip.yuv", frames);
    appendTo(dir / "clip.yuv", frames[0].samples.data(), 100);  // a last frame cut off in its luma plane
    const RunResult result = runTool(dir.path(), {"clip.yuv", "32", "16", "25", "6", "1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "Warning: 4 of the 6 requested frames are not in the file\n");
    const std::vector<std::string> lines = linesAfter(startupLines("clip.yuv", 32, 16, "25.00", 6, 1), result);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(splitFields(lines[0])[0], "00001");
    EXPECT_EQ(splitFields(lines[1])[0], "00002");
    EXPECT_EQ(lines[2].rfind("Calculation time: ", 0), 0u);
    EXPECT_EQ(splitLines(readFile(dir / "metricsResultsCSV.csv")).size(), 3u);

    const RunResult pastEnd = runTool(dir.path(), {"clip.yuv", "32", "16", "25", "2", "50"});
    ASSERT_EQ(pastEnd.status, 0) << pastEnd.err;
    EXPECT_EQ(pastEnd.err, "Warning: 2 of the 2 requested frames are not in the file\n");
    EXPECT_EQ(splitLines(readFile(dir / "metricsResultsCSV.csv")).size(), 1u);
}

TEST(Run, TemporalColumnsFollowRepeatsChangesAndAlternations) {
    // 48 x 48 frames (36 blocks): a still that repeats, a change, then a
    // picture in which one block alternates between changing and standing
    // still while the rest stays put.
    TempDir dir;
    std::vector<Plane> frames;
    const Plane still = clips::texture(48, 48, 0, 3, 2, 5);
    const Plane other = clips::texture(48, 48, 9, 3, 2, 5);
    for (int t = 0; t < 5; ++t) {
        frames.push_back(still);
    }
    for (int t = 5; t < 21; ++t) {
        Plane plane = other;
        plane.at(3, 3) = static_cast<uint8_t>((t + 1) / 2);  // changes on odd frames only
        frames.push_back(plane);
    }
    writeClip(dir / "clip.yuv", frames);
    const RunResult result = runTool(dir.path(), {"clip.yuv", "48", "48"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = linesAfter(startupLines("clip.yuv", 48, 48, "25.00", 21, 0), result);
    ASSERT_GE(lines.size(), 21u);
    Replay replay(48, 48, 25.0);
    for (int k = 0; k < 21; ++k) {
        EXPECT_EQ(lines[k], replay.row(k, frames[k])) << "frame " << k;
    }
    // Freezing from the third repeat at 25 frames per second, ended by the change.
    const std::vector<std::string> frozen = {"0", "0", "0", "1", "1", "0", "0"};
    for (size_t k = 0; k < frozen.size(); ++k) {
        EXPECT_EQ(splitFields(lines[k])[9], frozen[k]) << "frame " << k;
    }
    // Flickering reports on the 9th and the 17th frame. In the first period
    // (frames 1 ... 8) the alternating block switches on frames 5 to 8, in
    // the second (frames 9 ... 16) on every frame.
    EXPECT_EQ(splitFields(lines[7])[15], "-1.00000");
    EXPECT_EQ(splitFields(lines[8])[15], "0.50000");
    EXPECT_EQ(splitFields(lines[16])[15], "1.00000");
}

TEST(Run, TinyAndOddFrameSizesRunToTheEnd) {
    // Every indicator on frames too small for its blocks, past a whole
    // flickering period; the sanitizer build checks every access.
    TempDir dir;
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{1, 1}, {2, 3}, {7, 1}, {1, 9}, {17, 9}, {9, 50}}) {
        writeClip(dir / "clip.yuv", movingFrames(w, h, 10));
        const RunResult result = runTool(dir.path(), {"clip.yuv", std::to_string(w), std::to_string(h)});
        EXPECT_EQ(result.status, 0) << w << " x " << h << ": " << result.err;
        EXPECT_EQ(splitLines(readFile(dir / "metricsResultsCSV.csv")).size(), 11u) << w << " x " << h;
    }
}

TEST(Run, UncreatableLogLeavesTheConsoleAsItWas) {
    TempDir withLog;
    TempDir withoutLog;
    const std::vector<Plane> frames = movingFrames(32, 16, 2);
    writeClip(withLog / "clip.yuv", frames);
    writeClip(withoutLog / "clip.yuv", frames);
    std::filesystem::create_directory(withoutLog / "metricsResultsCSV.csv");

    const RunResult normal = runTool(withLog.path(), {"clip.yuv", "32", "16"});
    const RunResult noLog = runTool(withoutLog.path(), {"clip.yuv", "32", "16"});
    ASSERT_EQ(noLog.status, 0);
    EXPECT_EQ(noLog.err, "Cannot create the log file: Is a directory\n");
    EXPECT_EQ(maskFigures(noLog.out), maskFigures(normal.out));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// (The sanitizers reserve more address space than the limit allows.)
TEST(Run, ExhaustedMemoryStopsWithAMessage) {
    TempDir dir;
    writeClip(dir / "clip.yuv", movingFrames(32, 16, 1));
    const RunResult result = runTool(dir.path(), {"clip.yuv", "30000", "30000", "25", "1"}, "ulimit -v 400000;");
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Out of memory: the images for this frame size cannot be allocated\n");
}
#endif

}  // namespace
