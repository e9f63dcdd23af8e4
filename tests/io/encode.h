// Compressed clips written with FFmpeg's libraries, for the decoder tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixfmt.h>
}

namespace testing_support {

struct ClipFormat {
    std::string muxer;  // "matroska", "avi", "mp4", "mpeg1video", ...
    AVCodecID codec = AV_CODEC_ID_FFV1;
    AVPixelFormat pixels = AV_PIX_FMT_YUV420P;
    int32_t w = 0;
    int32_t h = 0;
    int fps = 25;
    int64_t bitRate = 0;  // for lossy codecs
    int maxBFrames = 0;
    std::map<std::string, std::string> options;  // the encoder's own options
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
