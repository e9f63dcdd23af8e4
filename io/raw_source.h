// Raw planar video with no header: frames of one layout back to back, from a
// file (each frame's luma read at its offset, by any number of threads at
// once) or a pipe (read in order, the bytes before the start frame and the
// chroma planes read and dropped).
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "io/byte_stream.h"
#include "io/layout.h"
#include "engine/source.h"

namespace nrvq {

// Reads frames of one layout and size: the luma plane, narrowed to 8 bits
// where the samples are wider, and skips the chroma planes. Its memory is
// allocated once. Each reader is used by one thread at a time.
class FrameReader {
public:
    FrameReader(const PixelLayout& layout, int32_t width, int32_t height);
    // Reads the frame at the stream's position into luma. Returns the bytes
    // of the frame that the input held: frameBytes() for a whole frame.
    // The stream's error() tells a failed read from the end of the input.
    int64_t read(ByteStream& stream, uint8_t* luma);
    // Reads the frame at offset of a seekable stream into luma, leaving the
    // stream as it is, and returns the same count; a failed read's errno goes
    // to error (0 when none failed).
    int64_t readAt(const ByteStream& stream, int64_t offset, uint8_t* luma, int& error);
    int64_t frameBytes() const { return frameBytes_; }
    int64_t lumaBytes() const { return lumaBytes_; }

private:
    // Narrows the first count wide samples read to luma.
    void narrow(uint8_t* luma, size_t count);
    const PixelLayout& layout_;
    int64_t lumaBytes_;
    int64_t frameBytes_;
    std::vector<uint16_t> wide_;  // samples of more than 8 bits, as read, a piece of the plane at a time
};

// How far a source's reading got, for the raw and the YUV4MPEG2 sources.
struct ReadProgress {
    int64_t delivered = 0;  // frames handed out
    int64_t missing = 0;    // frames asked for that the input did not hold (found at the end)
    int64_t leftover = 0;   // bytes after the last whole frame
    bool ended = false;     // the input ended or failed: nothing more is read
    bool endedBeforeStart = false;

    // Nothing more to deliver for info: the input ended, the count asked
    // for is delivered, or the next frame's index would pass 2^31 - 1.
    bool done(const SourceInfo& info) const {
        return ended || (info.frameCount >= 0 && delivered >= info.frameCount) ||
               info.startFrame + delivered > INT32_MAX;
    }
    // The input ended partialBytes into a frame: with a count asked for,
    // the frames not delivered are missing; without, the bytes are left over.
    void endOfInput(const SourceInfo& info, int64_t partialBytes) {
        ended = true;
        if (info.frameCount >= 0) {
            missing = info.frameCount - delivered;
        } else {
            leftover = partialBytes;
        }
    }
};

struct RawOptions {
    int32_t width = 0;
    int32_t height = 0;
    double fps = kDefaultFps;
    int32_t start = 0;
    std::optional<int32_t> frames;  // frames to examine; none: to the end of the input
    const PixelLayout* layout = nullptr;  // null: yuv420p
};

class RawSource : public FrameSource {
public:
    // Reaches the start frame. Throws InputError when the input holds no
    // whole frame (and no count was asked for), or cannot be positioned.
    RawSource(std::unique_ptr<ByteStream> stream, const RawOptions& options);
    const SourceInfo& info() const override { return info_; }
    ReadResult next(uint8_t* luma) override;
    // A file: frames read at their offsets (a pipe only in order).
    bool prepareReaders(unsigned readers) override;
    ReadResult readFrame(unsigned reader, int64_t k, uint8_t* luma) override;

    const PixelLayout& layout() const { return layout_; }
    const ByteStream& stream() const { return *stream_; }
    // Frames asked for that the input does not hold (found at the end).
    int64_t missingFrames() const { return progress_.missing; }
    // Bytes after the last whole frame: known at the start for a file whose
    // frame count comes from its size, at the end for a pipe.
    int64_t leftoverBytes() const { return progress_.leftover; }
    // The input ended before the start frame.
    bool endedBeforeStart() const { return progress_.endedBeforeStart; }
    // A warning about the input found while opening it.
    const std::string& note() const { return note_; }
    void setNote(std::string note) { note_ = std::move(note); }

private:
    // Reads frame k of a file with reader into luma, after progress (what
    // reading the frames before it left), which takes what this read changes.
    ReadResult readFileFrame(FrameReader& reader, int64_t k, uint8_t* luma, ReadProgress& progress) const;

    std::unique_ptr<ByteStream> stream_;
    std::string name_;  // for messages
    const PixelLayout& layout_;
    FrameReader reader_;
    SourceInfo info_;
    ReadProgress progress_;
    std::string note_;
    // Reading by frame number: a reader per thread, the progress before the
    // first frame, and the lowest frame whose read ended the input so far.
    std::vector<FrameReader> readers_;
    ReadProgress opened_;
    std::mutex endMutex_;
    int64_t endedAt_ = INT64_MAX;
};

// Hints for an input of total bytes that is not a whole number of frames
// of width x height in layout: other layouts, or nearby sizes, that would
// divide it exactly; "" when none does.
std::string sizeHint(int64_t total, int32_t width, int32_t height, const PixelLayout& layout);

// "768x576 yuv420p (663552 bytes)".
std::string describeFrame(int32_t width, int32_t height, const PixelLayout& layout);

// The message for a file that became shorter while it was read: frame
// `frame` ended after `got` of its `frameBytes` bytes.
std::string shrunkMessage(const std::string& name, int64_t frame, int64_t got, int64_t frameBytes);

}  // namespace nrvq
