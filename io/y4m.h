// YUV4MPEG2: a stream header line naming size, rate and layout, then frames
// that each start with a "FRAME" line. The header parsers take untrusted
// bytes and never read outside them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "io/byte_stream.h"
#include "io/layout.h"
#include "io/raw_source.h"
#include "engine/source.h"

namespace nrvq {

// The signature that opens every YUV4MPEG2 stream.
inline constexpr std::string_view kY4mSignature = "YUV4MPEG2";
// Longest header line read (the stream's or a frame's), newline included.
inline constexpr size_t kY4mMaxHeader = 4096;

struct Y4mStreamHeader {
    std::string error;  // empty when the header is usable
    int32_t width = 0;
    int32_t height = 0;
    int64_t fpsNum = 0;  // 0: the header gives no rate
    int64_t fpsDen = 0;
    bool rateUnknown = false;  // F0:0: the writer did not know the rate
    const PixelLayout* layout = nullptr;
    std::string colourSpace;  // the C parameter as written ("" when absent)
};

// Parses a stream header line, given without its newline. Width and height
// are bounded as for the command line (a frame of at most 2^31 - 1 bytes).
Y4mStreamHeader parseY4mStreamHeader(std::string_view line);

// Parses a frame header line, given without its newline: "FRAME" and
// optional parameters. Returns "" when it is one, else what is wrong.
std::string parseY4mFrameHeader(std::string_view line);

struct Y4mOptions {
    std::optional<int32_t> width;  // when given, must match the header
    std::optional<int32_t> height;
    std::optional<double> fps;     // overrides the header's rate
    double defaultFps = kDefaultFps;
    int32_t start = 0;
    std::optional<int32_t> frames;
    const PixelLayout* layout = nullptr;  // when given, must match the header
};

class Y4mSource : public FrameSource {
public:
    // Reads and checks the stream header, counts the frames of a file when
    // no count is given, and reaches the start frame. Throws InputError.
    Y4mSource(std::unique_ptr<ByteStream> stream, const Y4mOptions& options);
    const SourceInfo& info() const override { return info_; }
    ReadResult next(uint8_t* luma) override;

    const PixelLayout& layout() const { return *layout_; }
    bool seekable() const { return stream_->seekable(); }
    int64_t missingFrames() const { return progress_.missing; }
    int64_t leftoverBytes() const { return progress_.leftover; }
    bool endedBeforeStart() const { return progress_.endedBeforeStart; }

private:
    // Reads one frame header line. Returns false at the end of the input
    // (partial counts the bytes of a header cut off); throws on a malformed one.
    enum class Header { Frame, End, Malformed };
    Header readFrameHeader(int64_t* partial, std::string* problem);
    std::unique_ptr<ByteStream> stream_;
    std::string name_;
    const PixelLayout* layout_ = nullptr;
    std::unique_ptr<FrameReader> reader_;
    SourceInfo info_;
    std::string line_;
    ReadProgress progress_;
    std::string damage_;  // a damaged frame header found while counting: the run's end
};

}  // namespace nrvq
