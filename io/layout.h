// Sample layouts of raw planar video: how big a frame is and where its luma
// plane lies. Frames are the luma plane followed by the chroma planes, each
// sample 1 byte (8 bits) or 2 bytes little-endian (10 bits).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nrvq {

struct PixelLayout {
    std::string_view name;     // as FFmpeg's -pix_fmt names it
    std::string_view y4mName;  // the C parameter of a YUV4MPEG2 header
    int chromaShiftX = 1;      // chroma planes are ceil(w / 2^shift) wide
    int chromaShiftY = 1;      // and ceil(h / 2^shift) high
    bool chroma = true;        // false: luma only (gray)
    int bits = 8;              // 8, or 10 stored in 2 bytes little-endian

    int bytesPerSample() const { return bits > 8 ? 2 : 1; }
    int64_t lumaBytes(int64_t w, int64_t h) const { return w * h * bytesPerSample(); }
    // Distance from one frame to the next.
    int64_t frameBytes(int64_t w, int64_t h) const {
        if (!chroma) {
            return lumaBytes(w, h);
        }
        const int64_t cw = (w + (int64_t{1} << chromaShiftX) - 1) >> chromaShiftX;
        const int64_t ch = (h + (int64_t{1} << chromaShiftY) - 1) >> chromaShiftY;
        return (w * h + 2 * cw * ch) * bytesPerSample();
    }
};

// Every layout the raw and YUV4MPEG2 readers take; the first is the default.
std::span<const PixelLayout> pixelLayouts();
const PixelLayout& defaultLayout();
// The layout of that -pix_fmt name, or null.
const PixelLayout* findLayout(std::string_view name);
// The names, "yuv420p, yuv422p, ...", for messages.
std::string layoutNames();

// Whether a picture of w x h fits the analysis: a luma plane, and one and a
// half of it, of at most 2^31 - 1 samples.
inline bool frameSizeFits(int64_t w, int64_t h) {
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) {
        return false;
    }
    const int64_t luma = w * h;
    return luma <= INT32_MAX && (3 * luma) / 2 <= INT32_MAX;
}

}  // namespace nrvq
