#include "io/raw_source.h"

#include <cerrno>
#include <cstdint>

namespace nrvq {

RawSource::RawSource(std::FILE* file, const std::string& path, const RawOptions& options) : file_(file) {
    info_.path = path;
    info_.kind = "raw";
    info_.layout = "yuv420p";
    info_.width = options.width;
    info_.height = options.height;
    info_.fps = options.fps;
    info_.startFrame = options.start;
    lumaSize_ = int64_t{options.width} * options.height;
    // Frames lie 1.5 luma planes apart; an odd luma size drops the half byte.
    frameSize_ = (3 * lumaSize_) / 2;
    if (options.frames) {
        info_.frameCount = *options.frames;
    } else {
        std::fseek(file_, 0, SEEK_END);
        const int64_t fileSize = std::ftell(file_);
        const int64_t frames = frameSize_ > 0 && fileSize > 0 ? fileSize / frameSize_ : 0;
        info_.frameCount = frames > INT32_MAX ? INT32_MAX : frames;
    }
    offset_ = int64_t{options.start} * frameSize_;
}

RawSource::~RawSource() { std::fclose(file_); }

ReadResult RawSource::next(uint8_t* luma) {
    ReadResult result;
    const int64_t frame = info_.startFrame + delivered_;
    if (delivered_ >= info_.frameCount || frame > INT32_MAX) {
        result.status = ReadStatus::End;
        return result;
    }
    std::fseek(file_, offset_, SEEK_SET);
    const size_t bytesRead = std::fread(luma, 1, static_cast<size_t>(lumaSize_), file_);
    if (std::ferror(file_)) {
        result.status = ReadStatus::Error;
        result.error = errno;
        result.bytesRead = bytesRead;
        return result;
    }
    if (bytesRead < static_cast<size_t>(lumaSize_)) {
        // The file ends before this frame does: the frames from here on are
        // not in it, and examining stale buffers would report frames that do
        // not exist.
        missing_ = info_.frameCount - delivered_;
        result.status = ReadStatus::End;
        return result;
    }
    offset_ += frameSize_;
    ++delivered_;
    return result;
}

}  // namespace nrvq
