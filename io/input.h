// Opens the frame source for an input: chooses the reader from the input
// itself and what the caller asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/source.h"

namespace nrvq {

struct PixelLayout;

// How the messages about a request name what the caller gave: the command
// line names its options, the library the fields of its options.
struct RequestNames {
    const char* pixFmt;
    const char* stream;
    const char* start;
    const char* inputOptions;
    const char* size;
};
inline constexpr RequestNames kLibraryNames{"pixel format", "stream", "start frame", "input options",
                                            "width and height"};
inline constexpr RequestNames kCommandLineNames{"--pix-fmt", "--stream", "--start", "--input-option",
                                                "WIDTH and HEIGHT"};

// What the caller asks of an input; unset fields come from the input where
// it says them.
struct InputRequest {
    std::string path;  // "-" for standard input
    std::optional<int32_t> width;
    std::optional<int32_t> height;
    std::optional<double> fps;
    int32_t start = 0;
    std::optional<int32_t> frames;
    std::string pixFmt;  // raw layout; "" for yuv420p (or what a header says)
    // The video stream of a container file, counted over all its streams;
    // none: its first video stream.
    std::optional<int32_t> stream;
    // Network inputs (io/live_source.h): demuxer and protocol options, and
    // whether an end or a failure of the stream ends the run.
    std::vector<std::pair<std::string, std::string>> inputOptions;
    bool once = false;
    RequestNames names = kLibraryNames;
};

// The request for the input at path from a caller's options, which name the
// fields they share with the request as it does (the command line's
// Options, the library's FileOptions): one place decides what of them
// reaches the reader.
template <typename Fields>
InputRequest makeInputRequest(const std::string& path, const Fields& fields, const RequestNames& names) {
    InputRequest request;
    request.path = path;
    request.width = fields.width;
    request.height = fields.height;
    request.fps = fields.fps;
    request.start = fields.start;
    request.frames = fields.frames;
    request.pixFmt = fields.pixFmt;
    request.stream = fields.stream;
    request.names = names;
    return request;
}

// What no reader can take, found before anything is opened or allocated: a
// size given that is not positive or whose 4:2:0 frame is over 2^31 - 1
// bytes, a rate outside kMinFrameRate ... kMaxFrameRate, a negative start or
// stream, an unknown pixel format. The message for the user, in the
// request's names; nothing when the request is sound. openInput checks it
// first.
std::optional<std::string> requestProblem(const InputRequest& request);

// The input cannot be used. message is the complete text for the user.
class InputError : public std::runtime_error {
public:
    enum Kind {
        Unusable,    // the message says why
        CannotOpen,  // the path does not open
        NeedsSize,   // raw input given without WIDTH and HEIGHT
    };
    explicit InputError(const std::string& message, Kind kind = Unusable)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// What the first bytes of an input show it to be.
enum class InputFormat { Raw, Y4m, Matroska, Mp4, Avi, MpegTs, MpegPs, Ogg, Flv, Ivf, Asf };

// Recognises an input by its first bytes (a few hundred are enough).
// Anything not recognised is taken for raw video.
InputFormat detectInputFormat(std::span<const uint8_t> head);
// "Matroska/WebM", "MP4/MOV", ... for messages.
std::string_view formatName(InputFormat format);

// A network URL is read live (io/live_source.h), which waits for the stream
// to come up unless request.once.
// YUV4MPEG2 input is read by its own reader; containers and compressed
// streams (those the fixed signatures or FFmpeg's probe recognise) are
// decoded, with the frame size and rate from the stream; anything else is
// raw video, which needs WIDTH and HEIGHT. Throws InputError when the input
// cannot be opened or read as asked.
std::unique_ptr<FrameSource> openInput(const InputRequest& request);

// Said once on standard error when the input is open, if anything: bytes
// that are not a whole frame, samples narrowed to 8 bits.
std::string openingNotes(const FrameSource& source);

// Said once on standard error at the end of a run, if anything: frames the
// input lacked, damage the decoder met and the like.
std::string endOfInputNotes(const FrameSource& source);

}  // namespace nrvq
