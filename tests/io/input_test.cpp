// The input readers' pieces: frame layouts, the YUV4MPEG2 header parsers
// and the recognition of containers from their first bytes.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "clips/clip.h"
#include "io/input.h"
#include "io/layout.h"
#include "io/y4m.h"

namespace {

TEST(Layouts, FrameBytesRoundChromaUp) {
    struct Case { const char* name; int32_t w, h; int64_t luma, frame; };
    for (const Case& c : std::vector<Case>{
             {"yuv420p", 32, 16, 512, 768},        {"yuv420p", 3, 3, 9, 17},
             {"yuv420p", 33, 17, 561, 561 + 2 * 17 * 9}, {"yuv422p", 3, 3, 9, 9 + 2 * 2 * 3},
             {"yuv444p", 3, 3, 9, 27},             {"gray", 3, 3, 9, 9},
             {"yuv420p10le", 3, 3, 18, 34},        {"yuv422p10le", 32, 16, 1024, 2048},
             {"yuv444p10le", 1, 1, 2, 6},          {"gray10le", 5, 1, 10, 10}}) {
        const nrvq::PixelLayout* layout = nrvq::findLayout(c.name);
        ASSERT_NE(layout, nullptr) << c.name;
        EXPECT_EQ(layout->lumaBytes(c.w, c.h), c.luma) << c.name;
        EXPECT_EQ(layout->frameBytes(c.w, c.h), c.frame) << c.name << " " << c.w << "x" << c.h;
    }
    EXPECT_EQ(nrvq::findLayout("nv12"), nullptr);
    // The clip generator lays odd sizes out the same way.
    EXPECT_EQ(33 * 17 + clips::chromaBytes(33, 17), 561u + 2 * 17 * 9);
}

TEST(Y4m, StreamHeadersGiveSizeRateAndLayout) {
    struct Case { std::string line; int32_t w, h; int64_t num, den; std::string layout; };
    std::vector<Case> cases = {
        {"YUV4MPEG2 W768 H576 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", 768, 576, 25, 1, "yuv420p"},
        {"YUV4MPEG2 W1920 H1080 F30000:1001 C420mpeg2", 1920, 1080, 30000, 1001, "yuv420p"},
        {"YUV4MPEG2  H3 W5  C420paldv ", 5, 3, 0, 0, "yuv420p"}};
    for (const auto& [tag, layout] : std::vector<std::pair<std::string, std::string>>{
             {"", "yuv420p"}, {" C420", "yuv420p"}, {" C422", "yuv422p"}, {" C444", "yuv444p"}, {" Cmono", "gray"},
             {" C420p10", "yuv420p10le"}, {" C422p10", "yuv422p10le"}, {" C444p10", "yuv444p10le"},
             {" Cmono10 Zunknown", "gray10le"}}) {
        cases.push_back({"YUV4MPEG2 W2 H2" + tag, 2, 2, 0, 0, layout});
    }
    for (const Case& c : cases) {
        const nrvq::Y4mStreamHeader h = nrvq::parseY4mStreamHeader(c.line);
        ASSERT_EQ(h.error, "") << c.line;
        EXPECT_EQ(std::make_tuple(h.width, h.height, h.fpsNum, h.fpsDen, std::string(h.layout->name)),
                  std::make_tuple(c.w, c.h, c.num, c.den, c.layout))
            << c.line;
    }
}

TEST(Y4m, BadHeadersNameWhatWasFound) {
    struct Case {
        std::string line;
        std::string error;  // the message starts with this
    };
    for (const Case& c : std::vector<Case>{
             {"YUV4MPEG W2 H2", "not a YUV4MPEG2 header: \"YUV4MPEG W2 H2\""},
             {"YUV4MPEG2W2 H2", "not a YUV4MPEG2 header"},
             {std::string("YUV4\0MPEG2", 10), "not a YUV4MPEG2 header: \"YUV4\\x00MPEG2\""},
             {"YUV4MPEG2 H2", "the YUV4MPEG2 header gives no width (W)"},
             {"YUV4MPEG2 W2", "the YUV4MPEG2 header gives no height (H)"},
             {"YUV4MPEG2 W0 H2", "invalid width \"W0\""},
             {"YUV4MPEG2 W-2 H2", "invalid width \"W-2\""},
             {"YUV4MPEG2 W2 H99999999999999", "invalid height \"H99999999999999\""},
             {"YUV4MPEG2 W2 Hx", "invalid height \"Hx\""},
             {"YUV4MPEG2 W65536 H65536", "the YUV4MPEG2 header's frame size 65536x65536 is too large"},
             {"YUV4MPEG2 W2 H2 F25", "invalid frame rate \"F25\""},
             {"YUV4MPEG2 W2 H2 F25:0", "invalid frame rate \"F25:0\""},
             {"YUV4MPEG2 W2 H2 F:1", "invalid frame rate \"F:1\""},
             {"YUV4MPEG2 W2 H2 C411", "unsupported colour space \"C411\" in the YUV4MPEG2 header (supported: 420jpeg"},
             {"YUV4MPEG2 W2 H2 C444alpha", "unsupported colour space \"C444alpha\""},
             {"YUV4MPEG2 W2 H2 C420p12", "unsupported colour space \"C420p12\""},
             {"YUV4MPEG2 W2 H2 X" + std::string(5000, 'x'), "the YUV4MPEG2 header is longer than 4096 bytes"},
         }) {
        const nrvq::Y4mStreamHeader h = nrvq::parseY4mStreamHeader(c.line);
        EXPECT_EQ(h.error.rfind(c.error, 0), 0u) << c.line.substr(0, 40) << ": " << h.error;
    }
    EXPECT_EQ(nrvq::parseY4mFrameHeader("FRAME"), "");
    EXPECT_EQ(nrvq::parseY4mFrameHeader("FRAME Ip XA=1"), "");
    EXPECT_EQ(nrvq::parseY4mFrameHeader("FRAMES"), "expected a FRAME header, found \"FRAMES\"");
    EXPECT_EQ(nrvq::parseY4mFrameHeader(""), "expected a FRAME header, found \"\"");
}

TEST(Y4m, ParsersTakeAnyBytes) {
    // Every prefix of a valid header, and random bytes after the signature;
    // the sanitizer build checks that nothing is read outside them.
    const std::string valid = "YUV4MPEG2 W1920 H1080 F30000:1001 Ip A1:1 C420p10 XYSCSS=420P10";
    for (size_t n = 0; n <= valid.size(); ++n) {
        const std::string line = valid.substr(0, n);
        const nrvq::Y4mStreamHeader h = nrvq::parseY4mStreamHeader(line);
        EXPECT_EQ(h.error.empty(), h.layout != nullptr) << line;
        nrvq::parseY4mFrameHeader(line);
    }
    clips::Random random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string line = "YUV4MPEG2 ";
        const uint32_t length = random.below(40);
        for (uint32_t k = 0; k < length; ++k) {
            const char alphabet[] = "WHFCIAX0123456789: :pjeg\x01\xff";
            line += alphabet[random.below(sizeof alphabet - 1)];
        }
        const nrvq::Y4mStreamHeader h = nrvq::parseY4mStreamHeader(line);
        if (h.error.empty()) {
            EXPECT_TRUE(nrvq::frameSizeFits(h.width, h.height)) << line;
            EXPECT_NE(h.layout, nullptr);
        }
    }
}

TEST(Detection, ContainersAreRecognisedAndRawVideoIsNot) {
    using nrvq::InputFormat;
    const auto detect = [](const std::string& bytes) {
        return nrvq::detectInputFormat({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    };
    std::string ts;
    for (int p = 0; p < 4; ++p) ts += "\x47" + std::string(187, 'a');
    for (const auto& [head, format] : std::vector<std::pair<std::string, InputFormat>>{
             {"YUV4MPEG2 W2 H2\n", InputFormat::Y4m},
             {"\x1a\x45\xdf\xa3\x01", InputFormat::Matroska},
             {std::string("\0\0\0\x18" "ftypmp42", 12), InputFormat::Mp4},
             {std::string("RIFF\x10\0\0\0AVI LIST", 16), InputFormat::Avi},
             {std::string("RIFF\x10\0\0\0WAVEfmt ", 16), InputFormat::Raw},
             {ts, InputFormat::MpegTs},
             {std::string(4 * 188, '\x47'), InputFormat::Raw},  // a flat picture of luma 71
             {ts.substr(0, 3 * 188), InputFormat::Raw},
             {std::string("\0\0\x01\xba", 4), InputFormat::MpegPs},
             {"OggS", InputFormat::Ogg}, {"FLV\x01", InputFormat::Flv}, {"DKIF", InputFormat::Ivf},
             {"", InputFormat::Raw}, {std::string(100, '\x10'), InputFormat::Raw}}) {
        EXPECT_EQ(detect(head), format) << nrvq::formatName(format);
    }
}

}  // namespace
