// Opens the frame source for an input: chooses the reader from the input
// itself and what the caller asked for.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "io/source.h"

namespace nrvq {

// What the caller asks of an input; unset fields come from the input where
// it says them.
struct InputRequest {
    std::string path;  // "-" for standard input
    std::optional<int32_t> width;
    std::optional<int32_t> height;
    std::optional<double> fps;
    int32_t start = 0;
    std::optional<int32_t> frames;
    // The video stream of a container file, counted over all its streams;
    // none: its first video stream.
    std::optional<int32_t> stream;
};

// The input cannot be used. message is the complete line for the user.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A raw input (one that no container reader recognises) was named without
// its frame size.
class MissingFrameSize : public InputError {
public:
    using InputError::InputError;
};

// Frame rate assumed when neither the caller nor the input gives one.
inline constexpr double kDefaultFps = 25.0;

// Container files (MP4, Matroska, AVI, MPEG-TS, ...) are decoded, taking
// the frame size and rate from the stream; anything else is read as raw
// YUV 4:2:0, which needs the width and height. Throws InputError when the
// input cannot be opened or read as asked.
std::unique_ptr<FrameSource> openInput(const InputRequest& request);

// Said once on standard error at the end of a run, if anything: frames the
// input lacked, damage the decoder met and the like.
std::string endOfInputNotes(const FrameSource& source);

}  // namespace nrvq
