// The inputs of a whole run: the same frames through every reader, layout
// and container give the same rows, and every unusable input stops with a
// clear message, leaving an earlier log alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "io/encode.h"
#include "io/layout.h"
#include "testing.h"

namespace {

using clips::Plane;
using namespace testing_support;

const char* const kLog = "metricsResultsCSV.csv";

// Frames in a layout, raw or in YUV4MPEG2: the luma planes (10-bit samples
// are 4 v + r with r in -2 ... 1, which narrow back to v) and chroma planes
// of a pattern that a misplaced read would mix in.
std::string encodeClip(const std::vector<Plane>& frames, const nrvq::PixelLayout& layout, bool y4m) {
    std::string bytes;
    const auto put = [&](int v) {
        bytes += static_cast<char>(v & 0xff);
        if (layout.bits > 8) bytes += static_cast<char>(v >> 8);
    };
    if (y4m) {
        bytes = "YUV4MPEG2 W" + std::to_string(frames[0].w) + " H" + std::to_string(frames[0].h) +
                " F25:1 Ip A1:1 C" + std::string(layout.y4mName) + " XYSCSS=420JPEG\n";
    }
    for (size_t k = 0; k < frames.size(); ++k) {
        if (y4m) bytes += k % 2 ? "FRAME Ip XTAG=1\n" : "FRAME\n";
        const Plane& plane = frames[k];
        for (size_t i = 0; i < plane.samples.size(); ++i) {
            const int v = plane.samples[i];
            put(layout.bits > 8 ? std::clamp(4 * v + static_cast<int>(i % 4) - 2, 0, 1023) : v);
        }
        const int64_t chroma =
            layout.frameBytes(plane.w, plane.h) / layout.bytesPerSample() - int64_t{plane.w} * plane.h;
        for (int64_t i = 0; i < chroma; ++i) put(static_cast<int>((i * 37 + 11) % (layout.bits > 8 ? 1024 : 256)));
    }
    return bytes;
}

std::vector<WideLuma> lumas(const std::vector<Plane>& frames) {
    std::vector<WideLuma> wide;
    for (const Plane& frame : frames) wide.emplace_back(frame.samples.begin(), frame.samples.end());
    return wide;
}

std::string described(const std::vector<std::string>& args, const std::string& stdinFrom) {
    std::string text;
    for (const std::string& arg : args) text += arg + " ";
    return text + "< " + stdinFrom;
}

TEST(Inputs, SameFramesGiveTheSameRowsThroughEveryReaderAndLayout) {
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{32, 16}, {33, 17}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        TempDir dir;
        const std::vector<Plane> frames = textureFrames(w, h, 5, 3, 2, 7);
        writeRawClip(dir / "clip.yuv", frames);  // the generator's own 4:2:0 layout is the reference
        const std::string W = std::to_string(w);
        const std::string H = std::to_string(h);
        const RunResult whole = runTool(dir.path(), {"clip.yuv", W, H});
        ASSERT_EQ(whole.status, 0) << whole.err;
        ASSERT_EQ(frameRows(whole.out).size(), 5u);
        const std::string wholeLog = readFile(dir / kLog);
        const RunResult tail = runTool(dir.path(), {"clip.yuv", W, H, "--start", "2"});
        ASSERT_EQ(frameRows(tail.out).size(), 3u);

        struct Case { std::vector<std::string> args; std::string stdinFrom; bool fromStart2; };
        std::vector<Case> cases = {
            {{"-", W, H}, "|cat clip.yuv", false},
            {{"/dev/stdin", W, H}, "|cat clip.yuv", false},
            {{"-", W, H}, "clip.yuv", false},
            {{"-", W, H, "--start", "2"}, "|cat clip.yuv", true},
            {{"-", W, H, "25", "9", "2"}, "|cat clip.yuv", true},
        };
        for (const nrvq::PixelLayout& layout : nrvq::pixelLayouts()) {
            const std::string name(layout.name);
            writeFile(dir / (name + ".raw"), encodeClip(frames, layout, false));
            writeFile(dir / (name + ".y4m"), encodeClip(frames, layout, true));
            cases.push_back({{name + ".raw", W, H, "--pix-fmt", name}, "/dev/null", false});
            cases.push_back({{name + ".y4m"}, "/dev/null", false});
            cases.push_back({{"-", "--start", "2"}, "|cat " + name + ".y4m", true});
            cases.push_back({{"-", W, H, "--pix-fmt", name, "--start", "2"}, "|cat " + name + ".raw", true});
        }
        cases.push_back({{"yuv420p.y4m", W, H, "25", "3", "2"}, "/dev/null", true});
        // A container: no frame size needed, options or positional arguments.
        writeClip(dir / "clip.mkv", {"matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P, w, h}, lumas(frames));
        cases.push_back({{"clip.mkv"}, "/dev/null", false});
        cases.push_back({{"clip.mkv", "--start", "2", "--frames", "3", "--fps", "30"}, "/dev/null", true});
        cases.push_back({{"clip.mkv", W, H, "25", "9", "2"}, "/dev/null", true});
        for (const Case& c : cases) {
            SCOPED_TRACE(described(c.args, c.stdinFrom));
            std::filesystem::remove(dir / kLog);
            const RunResult result = runTool(dir.path(), c.args, "", c.stdinFrom);
            ASSERT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.err.find("damaged"), std::string::npos) << result.err;
            EXPECT_EQ(frameRows(result.out), frameRows((c.fromStart2 ? tail : whole).out));
            if (!c.fromStart2) {
                EXPECT_EQ(readFile(dir / kLog), wholeLog);
            }
        }
    }
}

TEST(Inputs, UnusableInputsStopWithAClearMessage) {
    TempDir dir;
    const nrvq::PixelLayout& yuv420 = nrvq::defaultLayout();
    const std::vector<Plane> frames = textureFrames(32, 16, 3);
    const std::string clip = encodeClip(frames, yuv420, false);
    const std::string y4m = encodeClip(frames, yuv420, true);
    const std::string frameData = clip.substr(0, 768);
    std::string ts;
    for (int p = 0; p < 8; ++p) ts += "\x47" + std::string(187, static_cast<char>(p));
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"clip.yuv", clip}, {"empty.yuv", ""}, {"short.yuv", clip.substr(0, 100)},
             {"cut.yuv", clip + clip.substr(0, 100)},
             {"wide.yuv", std::string(4 * (33 * 16 + 2 * 17 * 8), 'x')},  // 4 frames of 33x16
             {"tenbit.yuv", encodeClip(frames, *nrvq::findLayout("yuv420p10le"), false)},
             {"huge.y4m", "YUV4MPEG2 W99999 H99999\nFRAME\n" + frameData}, {"noend.y4m", "YUV4MPEG2 W32 H16"},
             {"frame.y4m", y4m.substr(0, y4m.find("FRAME")) + "FRAMX\n" + frameData},
             {"cut.y4m", y4m.substr(0, y4m.size() - 10)},
             {"rate0.y4m", "YUV4MPEG2 W32 H16 F0:0\nFRAME\n" + frameData},
             {"video.mkv", std::string("\x1a\x45\xdf\xa3", 4) + frameData},
             {"video.mp4", std::string("\0\0\0\x20" "ftypisom", 12) + frameData},
             {"video.avi", std::string("RIFF\0\0\0\0AVI LIST", 16) + frameData}, {"video.ts", ts}}) {
        writeFile(dir / name, bytes);
    }
    std::filesystem::create_directory(dir / "folder.yuv");
    writeClip(dir / "clip.mkv", {"matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P, 32, 16}, lumas(frames));
    writeAudioOnly(dir / "audio.mka");
    writeClip(dir / "clip.avi", {"avi", AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P, 32, 16}, lumas(frames));
    const std::string avi = readFile(dir / "clip.avi");
    writeFile(dir / "cut.avi", avi.substr(0, avi.size() - 200));  // into the last frame

    // err starts a line of standard error; ending in a newline, it is all of
    // standard error, and nothing is printed. logKept: the earlier log survives.
    struct Case { std::vector<std::string> args; std::string stdinFrom; int status; std::string err; bool logKept; };
    const std::vector<Case> cases = {
        {{"missing.yuv", "32", "16"}, "", 255, "Error opening the file missing.yuv: No such file or directory \n",
         true},
        {{"folder.yuv", "32", "16"}, "", 255, "folder.yuv is a directory", true},
        {{"empty.yuv", "32", "16"}, "", 255, "empty.yuv is empty", true},
        {{"short.yuv", "32", "16"}, "", 255, "short.yuv holds 100 bytes, less than one frame of 32x16 yuv420p", true},
        {{"short.yuv", "32", "16", "25", "10", "2"}, "", 255, "short.yuv holds 100 bytes, less than one frame", true},
        {{"-", "32", "16"}, "|cat short.yuv", 255, "Standard input holds 100 bytes, less than one frame", false},
        {{"-", "32", "16", "--frames", "3", "--start", "1"}, "|cat short.yuv", 255, "Standard input holds 100 bytes",
         false},
        {{"-", "32", "16"}, "|true", 255, "Standard input is empty", false},
        {{"cut.yuv", "32", "16"}, "", 0, "Warning: cut.yuv ends with 100 bytes that are not a whole frame", false},
        {{"-", "32", "16"}, "|cat cut.yuv", 0, "Warning: standard input ends with 100 bytes", false},
        {{"wide.yuv", "32", "16"}, "", 0, "Hint: the size would divide exactly with 33x16 (4 frames)", false},
        {{"tenbit.yuv", "32", "16"}, "", 0, "Warning: tenbit.yuv looks like 10-bit samples", false},
        {{"clip.yuv", "32", "16", "--start", "5"}, "", 0, "Warning: the start frame 5 is past the end of clip.yuv",
         false},
        {{"-", "32", "16", "--start", "5"}, "|cat clip.yuv", 0,
         "Warning: standard input ends before the start frame 5", false},
        // The header parser's messages, named by file.
        {{"huge.y4m"}, "", 255, "huge.y4m: the YUV4MPEG2 header's frame size 99999x99999 is too large", true},
        {{"noend.y4m"}, "", 255, "noend.y4m: the YUV4MPEG2 header is cut off", true},
        {{"frame.y4m"}, "", 255, "frame.y4m: frame 0: expected a FRAME header, found \"FRAMX\"", true},
        {{"-"}, "|cat frame.y4m", 255, "Standard input: frame 0: expected a FRAME header", false},
        {{"cut.y4m"}, "", 0, "Warning: cut.y4m ends with", false},
        {{"rate0.y4m"}, "", 255, "rate0.y4m: the YUV4MPEG2 header says the frame rate is unknown (F0:0); give it "
                                 "with --fps\n", true},
        {{"rate0.y4m", "--fps", "30"}, "", 0, "Video file", false},  // (standard output; standard error is empty)
        {{"clip.yuv", "32", "16", "--pix-fmt", "yuv420p10le"}, "", 0,
         "Warning: clip.yuv holds values above 1023, which 10-bit samples cannot be", false},
        {{"clip.mkv", "--start", "5"}, "", 0, "Warning: the start frame 5 is past the end of clip.mkv", false},
        {{"clip.mkv", "--frames", "5"}, "", 0, "Warning: 2 of the 5 requested frames are not in the file", false},
        {{"cut.avi"}, "", 0, "Warning: cut.avi ends after 2 frames; its container announced 3", false},
        {{"clip.y4m", "32", "18"}, "|true", 255, "Error opening the file clip.y4m", true},
        {{"-", "32", "18"}, "|cat frame.y4m", 255, "WIDTH x HEIGHT 32x18 disagree with the header", true},
        {{"-", "--pix-fmt", "gray"}, "|cat frame.y4m", 255, "--pix-fmt gray disagrees with the header", true},
        {{"video.mkv", "32", "16"}, "", 255, "cannot open video.mkv: Invalid data found when processing input", true},
        {{"video.mp4"}, "", 255, "cannot open video.mp4: Invalid data found", true},
        {{"-", "32", "16"}, "|cat video.avi", 255, "Standard input holds compressed video, which is decoded from files only", true},
        {{"video.ts", "32", "16"}, "", 255, "cannot open video.ts: Invalid data found", true},
        {{"audio.mka"}, "", 255, "no video stream in audio.mka\n", true},
        {{"clip.mkv", "--stream", "1"}, "", 255, "no stream 1 in clip.mkv (it has 1)\n", true},
        {{"clip.mkv", "40", "16"}, "", 255, "The frames of clip.mkv are 32 x 16, not the 40 x 16 given\n", true},
        {{"clip.yuv", "32", "16", "--stream", "0"}, "", 255,
         "--stream applies to container files, and clip.yuv is not one\n", true},
        {{"clip.yuv", "32", "16", "--pix-fmt", "nv12"}, "", 255, "Invalid --pix-fmt \"nv12\"", true},
        {{"-", "32", "16", "--log", "clip.yuv"}, "clip.yuv", 255, "--log clip.yuv: is the input itself", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(described(c.args, c.stdinFrom));
        writeFile(dir / kLog, "old rows\n");
        const RunResult result = runTool(dir.path(), c.args, "", c.stdinFrom.empty() ? "/dev/null" : c.stdinFrom);
        EXPECT_EQ(result.status, c.status) << result.err;
        const std::vector<std::string> lines = splitLines(result.err + result.out);
        if (c.err.back() == '\n') {
            EXPECT_EQ(result.err, c.err);
            EXPECT_EQ(result.out, "");
        } else {
            EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                    [&](const std::string& line) { return line.rfind(c.err, 0) == 0; }))
                << result.err;
        }
        if (c.logKept) {
            EXPECT_EQ(readFile(dir / kLog), "old rows\n");
        }
    }
    EXPECT_EQ(readFile(dir / "clip.yuv"), clip);
}

TEST(Inputs, ALogInUseByAnotherRunIsLeftAlone) {
    TempDir dir;
    writeRawClip(dir / "clip.yuv", textureFrames(32, 16, 1));
    writeFile(dir / kLog, "rows of the other run\n");
    const int fd = ::open((dir / kLog).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    const RunResult locked = runTool(dir.path(), {"clip.yuv", "32", "16"});
    ::close(fd);
    EXPECT_EQ(locked.status, 255);
    EXPECT_EQ(locked.out, "");
    EXPECT_EQ(locked.err,
              "--log metricsResultsCSV.csv: is being written by another run; give another path with --log\n");
    EXPECT_EQ(readFile(dir / kLog), "rows of the other run\n");
    // Once the other run is over the log is the run's own.
    EXPECT_EQ(runTool(dir.path(), {"clip.yuv", "32", "16"}).status, 0);
    EXPECT_EQ(splitLines(readFile(dir / kLog)).size(), 2u);
}

}  // namespace
