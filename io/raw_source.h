// Raw planar YUV 4:2:0 with 8-bit samples and no header: luma planes read
// one frame after another at their offsets in a seekable file.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "io/source.h"

namespace nrvq {

struct RawOptions {
    int32_t width = 0;
    int32_t height = 0;
    double fps = 25.0;
    int32_t start = 0;
    std::optional<int32_t> frames;  // frames to examine; none: as many as the file holds
};

class RawSource : public FrameSource {
public:
    // Takes an open stream. Derives the frame count from the file's size
    // when none is given.
    RawSource(std::FILE* file, const std::string& path, const RawOptions& options);
    ~RawSource() override;
    const SourceInfo& info() const override { return info_; }
    ReadResult next(uint8_t* luma) override;
    // Frames asked for that the file does not hold (found at the end).
    int64_t missingFrames() const { return missing_; }

private:
    std::FILE* file_;
    SourceInfo info_;
    int64_t frameSize_ = 0;
    int64_t lumaSize_ = 0;
    int64_t offset_ = 0;
    int64_t delivered_ = 0;
    int64_t missing_ = 0;
};

}  // namespace nrvq
