// Compressed clips written with FFmpeg's libraries, for the decoder tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

namespace testing_support {

// A video stream of 25 frames per second; FFV1 is written at level 3 with
// slice checksums, so that damage to its frames is seen.
struct ClipFormat {
    ClipFormat(std::string muxer, AVCodecID codec, AVPixelFormat pixels, int32_t w, int32_t h, int64_t bitRate = 0,
               int maxBFrames = 0)
        : muxer(std::move(muxer)), codec(codec), pixels(pixels), w(w), h(h), bitRate(bitRate), maxBFrames(maxBFrames) {}

    std::string muxer;  // "matroska", "avi", "mp4", "mpeg1video", ...
    AVCodecID codec;
    AVPixelFormat pixels;
    int32_t w, h;
    int64_t bitRate;  // for lossy codecs
    int maxBFrames;
    std::vector<int64_t> pts{};  // each frame's timestamp in 1/25 s; none: 0, 1, 2, ...
};

// Luma samples of one frame, w x h, row after row, in the format's depth.
using WideLuma = std::vector<uint16_t>;

bool haveEncoder(AVCodecID codec);

// Writes one video stream with a frame per luma plane. Chroma is neutral;
// in RGB formats every colour takes the luma value, giving gray pictures.
// Throws std::runtime_error when a step fails.
void writeClip(const std::filesystem::path& path, const ClipFormat& format, const std::vector<WideLuma>& lumas);

// Writes a file holding a short PCM audio stream and nothing else.
void writeAudioOnly(const std::filesystem::path& path);

}  // namespace testing_support
