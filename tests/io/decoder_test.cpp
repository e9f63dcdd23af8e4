#include "io/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "clips/clip.h"
#include "io/convert.h"
#include "io/encode.h"
#include "testing.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using nrvq::DecoderOptions;
using nrvq::ReadStatus;
using Plane8 = std::vector<uint8_t>;

constexpr int kFrames = 24;

// The frames of a textured clip in the given depth: the 8-bit texture in
// the high bits, low bits that vary so that the rounding to 8 bits matters.
std::vector<WideLuma> wideClip(int32_t w, int32_t h, int depth, int frames = kFrames) {
    std::vector<WideLuma> clip;
    const unsigned low = (1u << (depth - 8)) - 1;
    for (int t = 0; t < frames; ++t) {
        const clips::Plane p = clips::texture(w, h, t);
        WideLuma& out = clip.emplace_back(p.samples.size());
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<uint16_t>((p.samples[i] << (depth - 8)) | ((i * 7 + t) & low));
        }
    }
    return clip;
}

Plane8 narrowed(const WideLuma& wide, int depth) {
    Plane8 out(wide.size());
    if (depth == 8) {
        std::copy(wide.begin(), wide.end(), out.begin());
    } else {
        nrvq::narrowSamples(wide.data(), depth, out.data(), wide.size());
    }
    return out;
}

struct Decoded {
    nrvq::SourceInfo info;
    std::vector<Plane8> frames;
    nrvq::ReadResult end;
    int64_t damaged = 0;  // packets and frames
    std::vector<double> seconds;  // each frame's time as the source gave it
    size_t lent = 0;  // frames lent rather than copied
};

// Every frame a source delivers, up to limit; lent where the source can,
// when lend is set: the loans are held to the end, checked to be unchanged
// then, and given back in an order of their own.
Decoded decodeAll(const fs::path& path, const DecoderOptions& options = {}, size_t limit = 4 * kFrames,
                  bool lend = false) {
    auto source = nrvq::openDecoderSource(path.string(), options);
    Decoded d;
    d.info = source->info();
    Plane8 plane(static_cast<size_t>(d.info.width) * static_cast<size_t>(d.info.height));
    std::vector<std::tuple<const uint8_t*, void*, size_t>> loans;
    for (;;) {
        const uint8_t* lentPlane = nullptr;
        void* loan = nullptr;
        d.end = lend ? source->lend(plane.data(), lentPlane, loan) : source->next(plane.data());
        if (lentPlane != nullptr) {
            loans.emplace_back(lentPlane, loan, d.frames.size());
            std::copy_n(lentPlane, plane.size(), plane.begin());
        }
        if (d.end.status != ReadStatus::Frame || d.frames.size() == limit) break;
        d.seconds.push_back(d.end.seconds);
        d.frames.push_back(plane);
    }
    d.lent = loans.size();
    std::reverse(loans.begin(), loans.begin() + static_cast<ptrdiff_t>(loans.size() / 2));
    for (const auto& [lentPlane, loan, index] : loans) {
        if (index < d.frames.size()) {
            EXPECT_TRUE(std::equal(d.frames[index].begin(), d.frames[index].end(), lentPlane));
        }
        source->giveBack(loan);
    }
    d.damaged = source->damagedPackets() + source->damagedFrames();
    return d;
}

ClipFormat ffv1Mkv(int32_t w, int32_t h) { return {"matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P, w, h}; }
ClipFormat rawAvi(int32_t w, int32_t h) { return {"avi", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUV420P, w, h}; }
ClipFormat mpeg1(int32_t w, int32_t h) { return {"mpeg1video", AV_CODEC_ID_MPEG1VIDEO, AV_PIX_FMT_YUV420P, w, h}; }
// MPEG-4 with B-frames.
const ClipFormat kMpeg4{"mp4", AV_CODEC_ID_MPEG4, AV_PIX_FMT_YUV420P, 64, 48, 400000, 2};

void writeBytes(const fs::path& path, const clips::Plane& plane) {
    writeFile(path, std::string(plane.samples.begin(), plane.samples.end()));
}

double meanAbsDifference(const Plane8& a, const Plane8& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
    return sum / static_cast<double>(a.size());
}

// Clips of several codecs, containers and sample layouts come back with
// every luma sample as written (narrowed for the 10- and 16-bit ones), lent
// or copied alike; RGB
// pictures of gray go through the conversion and keep their level; MPEG-4
// with B-frames comes out close to what was written, every frame once, in
// presentation order.
TEST(DecoderSource, ClipsReturnTheWrittenLuma) {
    // frameCount as the container states it; meanBelow bounds the mean difference.
    struct Case { std::string file; ClipFormat format; int depth; int64_t frameCount; int maxDiff; double meanBelow; };
    std::vector<Case> cases = {
        {"ffv1.mkv", ffv1Mkv(48, 32), 8, -1, 0, 1},
        {"odd.avi", rawAvi(37, 29), 8, kFrames, 0, 1},
        {"ffv1-10.mkv", {"matroska", AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P10LE, 37, 29}, 10, -1, 0, 1},
        {"gray16be.nut", {"nut", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_GRAY16BE, 21, 13}, 16, -1, 0, 1},
        {"yuyv.avi", {"avi", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_YUYV422, 38, 29}, 8, kFrames, 0, 1},
        {"rgb.nut", {"nut", AV_CODEC_ID_RAWVIDEO, AV_PIX_FMT_RGB24, 37, 29}, 8, -1, 1, 1},
    };
    if (haveEncoder(AV_CODEC_ID_MPEG4)) cases.push_back({"lossy.mp4", kMpeg4, 8, kFrames, 255, 4});
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto clip = wideClip(c.format.w, c.format.h, c.depth);
        writeClip(dir / c.file, c.format, clip);
        const Decoded d = decodeAll(dir / c.file);
        const Decoded lent = decodeAll(dir / c.file, {}, 4 * kFrames, true);
        // Raw 8-bit frames are lent from the packets (rows back to back).
        EXPECT_EQ(lent.lent, c.file == "odd.avi" ? clip.size() : 0u);
        EXPECT_EQ(lent.frames, d.frames);
        EXPECT_EQ(lent.seconds, d.seconds);
        EXPECT_EQ(d.info.kind, "decoded");
        EXPECT_EQ(d.info.layout, av_get_pix_fmt_name(c.format.pixels));
        EXPECT_EQ(d.info.width, c.format.w);
        EXPECT_EQ(d.info.height, c.format.h);
        EXPECT_DOUBLE_EQ(d.info.fps, 25.0);
        EXPECT_EQ(d.info.frameCount, c.frameCount);
        EXPECT_EQ(d.end.status, ReadStatus::End);
        EXPECT_EQ(d.damaged, 0);
        ASSERT_EQ(d.frames.size(), clip.size());
        for (size_t t = 0; t < clip.size(); ++t) {
            const Plane8 want = narrowed(clip[t], c.depth);
            const double own = meanAbsDifference(d.frames[t], want);
            EXPECT_LT(own, c.meanBelow) << "frame " << t;
            if (t > 0) {
                EXPECT_LT(own, meanAbsDifference(d.frames[t], narrowed(clip[t - 1], c.depth))) << "frame " << t;
            }
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_LE(std::abs(int{d.frames[t][i]} - int{want[i]}), c.maxDiff) << "frame " << t << " at " << i;
            }
        }
    }
}

// The start counts decoded frames and the count limits the delivered ones;
// the frame count shown is the container's, shortened by both, or else the
// count asked for; lent frames (from the even starts) alike.
TEST(DecoderSource, StartAndCountSelectFrames) {
    TempDir dir;
    const auto clip = wideClip(37, 29, 8);
    writeClip(dir / "a.avi", rawAvi(37, 29), clip);
    writeClip(dir / "a.mkv", ffv1Mkv(37, 29), clip);
    struct Case { std::string file; int64_t start, count, frameCount /* shown */, delivered; };
    for (const Case& c : std::vector<Case>{{"a.avi", 3, 4, 4, 4}, {"a.avi", 8, -1, kFrames - 8, kFrames - 8},
                                           {"a.avi", kFrames - 2, 9, 2, 2}, {"a.avi", kFrames + 2, -1, 0, 0},
                                           {"a.avi", 0, 0, 0, 0}, {"a.mkv", 2, 3, 3, 3},
                                           {"a.mkv", 5, -1, -1, kFrames - 5}}) {
        SCOPED_TRACE(c.file + " from " + std::to_string(c.start) + " count " + std::to_string(c.count));
        const Decoded d = decodeAll(dir / c.file, {.fps = 12.5, .startFrame = c.start, .frameCount = c.count},
                                    4 * kFrames, c.start % 2 == 0);
        EXPECT_EQ(d.info.startFrame, c.start);
        EXPECT_EQ(d.info.frameCount, c.frameCount);
        EXPECT_DOUBLE_EQ(d.info.fps, 12.5);
        EXPECT_EQ(d.end.status, ReadStatus::End);
        ASSERT_EQ(static_cast<int64_t>(d.frames.size()), c.delivered);
        for (size_t i = 0; i < d.frames.size(); ++i) EXPECT_EQ(d.frames[i], narrowed(clip[c.start + i], 8));
    }
}

// Frames carry the container's timestamps from the stream's start, gaps of a
// variable rate included, unless the rate is given; then they carry none.
TEST(DecoderSource, FramesCarryTheirTimestamps) {
    TempDir dir;
    ClipFormat vfr = ffv1Mkv(32, 32);
    vfr.pts = {0, 1, 2, 5, 6, 10, 11, 20};
    writeClip(dir / "v.mkv", vfr, wideClip(32, 32, 8, 8));
    writeClip(dir / "b.mp4", kMpeg4, wideClip(64, 48, 8, 8));
    struct Case { std::string file; DecoderOptions options; std::vector<double> seconds; };
    for (const Case& c : std::vector<Case>{
             {"v.mkv", {}, {0, 0.04, 0.08, 0.2, 0.24, 0.4, 0.44, 0.8}},
             {"v.mkv", {.startFrame = 3, .frameCount = 2}, {0.2, 0.24}},
             {"b.mp4", {}, {0, 0.04, 0.08, 0.12, 0.16, 0.2, 0.24, 0.28}},
             {"v.mkv", {.fps = 10}, std::vector<double>(8, NAN)}}) {
        const Decoded d = decodeAll(dir / c.file, c.options);
        ASSERT_EQ(d.seconds.size(), c.seconds.size()) << c.file;
        for (size_t i = 0; i < d.seconds.size(); ++i) {
            if (std::isnan(c.seconds[i])) {
                EXPECT_TRUE(std::isnan(d.seconds[i])) << c.file << " " << i;
            } else {
                EXPECT_NEAR(d.seconds[i], c.seconds[i], 1e-9) << c.file << " " << i;
            }
        }
    }
}

// Flipped bytes and files cut short never crash or hang, frames lent or
// not: the run ends with the frames that could be decoded, or with a message.
TEST(DecoderSource, DamagedFilesEndCleanly) {
    TempDir dir;
    const auto clip = wideClip(64, 48, 8);
    std::vector<std::string> files = {"d.mkv", "d.avi"};
    writeClip(dir / "d.mkv", ffv1Mkv(64, 48), clip);
    writeClip(dir / "d.avi", rawAvi(64, 48), clip);
    if (haveEncoder(AV_CODEC_ID_MPEG4)) {
        writeClip(dir / "d.mp4", kMpeg4, clip);
        files.push_back("d.mp4");
    }
    for (const std::string& file : files) {
        const std::string bytes = readFile(dir / file);
        for (int part = 1; part < 8; ++part) {
            const size_t at = bytes.size() * part / 8;
            for (const bool cut : {false, true}) {
                SCOPED_TRACE(file + (cut ? " cut at " : " flipped at ") + std::to_string(at));
                std::string damaged = bytes.substr(0, cut ? at : bytes.size());
                for (size_t i = at; !cut && i < at + 24 && i < damaged.size(); ++i) damaged[i] ^= 0x5A;
                const fs::path path = dir / ("damaged-" + file);
                writeFile(path, damaged);
                try {
                    const Decoded d = decodeAll(path, {}, 4 * kFrames, part % 2 == 1);
                    EXPECT_LE(d.frames.size(), clip.size());
                    if (d.end.status == ReadStatus::Error) {
                        EXPECT_NE(d.end.message, "");
                    }
                    // FFV1 checks every slice, so a flip in its frames is seen.
                    if (file == "d.mkv" && !cut && part > 1 && d.end.status == ReadStatus::End) {
                        EXPECT_GT(d.damaged, 0);
                    }
                } catch (const nrvq::SourceError& e) {
                    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
                }
            }
        }
    }
}

// A frame of another size stops the run at that frame with a message.
TEST(DecoderSource, FrameSizeChangeIsAnError) {
    TempDir dir;
    writeClip(dir / "a.m1v", mpeg1(32, 32), wideClip(32, 32, 8, 4));
    writeClip(dir / "b.m1v", mpeg1(48, 32), wideClip(48, 32, 8, 4));
    writeFile(dir / "ab.m1v", readFile(dir / "a.m1v") + readFile(dir / "b.m1v"));
    const Decoded d = decodeAll(dir / "ab.m1v");
    EXPECT_EQ(d.info.width, 32);
    EXPECT_GE(d.frames.size(), 3u);
    ASSERT_EQ(d.end.status, ReadStatus::Error);
    EXPECT_EQ(d.end.message, "frame " + std::to_string(d.frames.size()) + " of " + (dir / "ab.m1v").string() +
                                 " is 48 x 32, the stream started at 32 x 32");
}

void expectSourceError(const fs::path& path, const DecoderOptions& options, const std::string& text) {
    try {
        nrvq::openDecoderSource(path.string(), options);
        ADD_FAILURE() << path << " opened";
    } catch (const nrvq::SourceError& e) {
        EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
}

TEST(DecoderSource, UnusableFilesAreClearErrors) {
    TempDir dir;
    const std::string missing = (dir / "missing.mp4").string();
    expectSourceError(missing, {}, "cannot open " + missing + ": No such file or directory");
    writeBytes(dir / "noise.mp4", clips::randomPlane(64, 64, 7));
    expectSourceError(dir / "noise.mp4", {}, (dir / "noise.mp4").string());
    writeAudioOnly(dir / "audio.mka");
    const std::string audio = (dir / "audio.mka").string();
    expectSourceError(audio, {}, "no video stream in " + audio);
    expectSourceError(audio, {.stream = 0}, "stream 0 of " + audio + " is not a video stream");
    expectSourceError(audio, {.stream = 3}, "no stream 3 in " + audio + " (it has 1)");
    writeClip(dir / "a.avi", rawAvi(48, 32), wideClip(48, 32, 8, 2));
    expectSourceError(dir / "a.avi", {.maxSamples = 48 * 32 - 1},
                      "are 48 x 32, larger than the 32768 samples a side and 1535 samples");
}

// Containers and compressed streams are recognised; raw samples, random
// bytes and YUV4MPEG2 files are not.
TEST(LooksLikeContainer, RecognisesSignaturesOnly) {
    TempDir dir;
    const auto clip = wideClip(64, 48, 8, 4);
    writeClip(dir / "a.mkv", ffv1Mkv(64, 48), clip);
    writeClip(dir / "a.avi", rawAvi(64, 48), clip);
    writeClip(dir / "a.m1v", mpeg1(64, 48), clip);
    for (const char* file : {"a.mkv", "a.avi", "a.m1v"}) EXPECT_TRUE(nrvq::looksLikeContainer(dir / file)) << file;

    writeRawClip(dir / "a.yuv", textureFrames(176, 144, 24));
    writeRawClip(dir / "black.yuv", {{176, 144, 0}, {176, 144, 0}, {176, 144, 16}, {176, 144, 16}});
    writeBytes(dir / "noise.mp4", clips::randomPlane(1024, 1024, 3));
    writeFile(dir / "a.y4m",
              "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\nFRAME\n" + std::string(64 * 48 * 3 / 2, '\x80'));
    writeFile(dir / "empty.mp4", "");
    for (const char* file : {"a.yuv", "black.yuv", "noise.mp4", "a.y4m", "empty.mp4", "missing.mkv"}) {
        EXPECT_FALSE(nrvq::looksLikeContainer(dir / file)) << file;
    }
}

// Raw and YUV4MPEG2 runs load none of FFmpeg's libraries: the decoder module
// is opened for compressed input only, which is still recognised without a
// fixed signature when the size is given too.
TEST(DecoderModule, LoadedForCompressedInputOnly) {
    TempDir dir;
    writeRawClip(dir / "a.yuv", textureFrames(64, 48, 2));
    writeFile(dir / "a.y4m",
              "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C420jpeg\nFRAME\n" + std::string(64 * 48 * 3 / 2, '\x80'));
    writeClip(dir / "a.m1v", mpeg1(64, 48), wideClip(64, 48, 8, 4));
    for (const auto& [args, rows, loads] : std::vector<std::tuple<std::vector<std::string>, size_t, bool>>{
             {{"a.yuv", "64", "48"}, 2, false},
             {{"a.y4m"}, 1, false},
             {{"a.m1v", "64", "48"}, 4, true},
             {{"a.m1v"}, 4, true}}) {
        const RunResult r = runTool(dir.path(), args, "export LD_DEBUG=libs;");
        EXPECT_EQ(r.status, 0) << args[0] << r.err;
        EXPECT_EQ(frameRows(r.out).size(), rows) << args[0];
        EXPECT_EQ(r.err.find("libavcodec") != std::string::npos, loads) << args[0];
    }
}

// A container file's start-up lines show no frame count and a clean one
// leaves standard error empty; damage to it is a warning there, and every
// frame still has its row.
TEST(DecoderCommandLine, ContainersShowNoFrameCountAndDamageIsAWarning) {
    TempDir dir;
    writeClip(dir / "a.mkv", ffv1Mkv(48, 32), wideClip(48, 32, 8));
    const RunResult clean = runTool(dir.path(), {"a.mkv", "--no-log"});
    EXPECT_NE(clean.out.find("Number of Frames = all, Start Frame = 0"), std::string::npos);
    EXPECT_EQ(clean.err, "");
    std::string damaged = readFile(dir / "a.mkv");
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 24; ++i) damaged[i] ^= 0x5A;
    writeFile(dir / "d.mkv", damaged);
    const RunResult d = runTool(dir.path(), {"d.mkv", "--no-log"});
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(frameRows(d.out).size(), size_t{kFrames});
    EXPECT_EQ(d.err.rfind("Warning: damaged input: ", 0), 0u) << d.err;
}

}  // namespace
