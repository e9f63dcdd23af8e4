// Where frames come from. The analysis loop asks a source for the luma plane
// of the next frame and knows nothing about files, pipes or formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "nrvq/nrvq.h"

namespace nrvq {

inline constexpr double kDefaultFps = kDefaultFrameRate;

// An input that cannot be opened or read at all.
class SourceError : public std::runtime_error {
    using runtime_error::runtime_error;
};

// What a source tells about its input once it is open.
struct SourceInfo {
    std::string path;           // as given on the command line
    std::string kind;           // "raw", "y4m", "decoded"
    std::string layout;         // sample layout of the input, e.g. "yuv420p"
    int32_t width = 0;
    int32_t height = 0;
    double fps = kDefaultFps;
    int64_t startFrame = 0;     // index of the first frame the source delivers
    // Frames the run is to examine, as the start-up line shows it: the count
    // asked for, or derived from the input; -1 when the input does not say.
    int64_t frameCount = -1;
    // Live inputs: the Unix time (seconds) from which their frame times,
    // times of arrival, count; not-a-number for other inputs.
    double epoch = std::numeric_limits<double>::quiet_NaN();
};

enum class ReadStatus {
    Frame,  // a whole luma plane was delivered
    End,    // no more frames: the input or the requested count is exhausted
    Error,  // the input failed; see bytesRead, error and message
};

struct ReadResult {
    ReadStatus status = ReadStatus::Frame;
    size_t bytesRead = 0;  // of the failed frame, for the error report
    int error = 0;         // errno of the failure, 0 when there is none
    std::string message;   // a description when error does not say enough
    // The frame's presentation time in seconds from the start of the stream,
    // when the input carries timestamps; not-a-number otherwise.
    double seconds = std::numeric_limits<double>::quiet_NaN();
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual const SourceInfo& info() const = 0;
    // Writes the next frame's luma plane into luma: width x height samples,
    // rows back to back. Frames come in order, from info().startFrame on.
    virtual ReadResult next(uint8_t* luma) = 0;

    // The next frame, as next() gives it, lent instead of copied when the
    // source can: then plane points at its width x height samples (rows back
    // to back), which stay valid and unchanged until giveBack(loan), and
    // luma is left alone; else plane is null and the frame is in luma, as
    // next() writes it. A frame is lent only when the result is a Frame.
    // Several loans may be outstanding at once; each is given back exactly
    // once, from any thread and in any order, before the source is
    // destroyed. The default lends nothing.
    virtual ReadResult lend(uint8_t* luma, const uint8_t*& plane, void*& loan) {
        plane = nullptr;
        loan = nullptr;
        return next(luma);
    }
    // Takes back a plane that lend() lent. Does not throw.
    virtual void giveBack(void* loan) noexcept { static_cast<void>(loan); }

    // Frames by their number, for inputs that hold them at known places (a
    // file of whole frames): several threads may read at once, so that no
    // thread has to copy every frame for the others. Prepares `readers`
    // readers, each used by one thread at a time, and returns true; false
    // (the default) when frames come only in order through next().
    virtual bool prepareReaders(unsigned readers) {
        static_cast<void>(readers);
        return false;
    }
    // Reads frame k (counted from info().startFrame) with reader `reader`
    // into luma: the result that next() would give for it after the k frames
    // before it. Of the reads that do not deliver a frame, the one of the
    // lowest k leaves the source as next() would have (frames missing,
    // bytes left over), as if the run had read up to it.
    virtual ReadResult readFrame(unsigned reader, int64_t k, uint8_t* luma) {
        static_cast<void>(reader);
        static_cast<void>(k);
        static_cast<void>(luma);
        return ReadResult{.status = ReadStatus::Error, .message = "frames of this input are read only in order"};
    }
};

}  // namespace nrvq
