// Raw YUV 4:2:0 clips made by the project itself, for the demonstration run
// and the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace clips {

// One luma plane, row after row.
struct Plane {
    int32_t w = 0;
    int32_t h = 0;
    std::vector<uint8_t> samples;

    Plane() = default;
    Plane(int32_t width, int32_t height, uint8_t fill = 0)
        : w(width), h(height), samples(static_cast<size_t>(width) * static_cast<size_t>(height), fill) {}
    uint8_t& at(int32_t row, int32_t column) { return samples[static_cast<size_t>(row) * w + column]; }
    uint8_t at(int32_t row, int32_t column) const { return samples[static_cast<size_t>(row) * w + column]; }
};

// Bytes of chroma that follow a luma plane of w x h: two planes of
// ceil(w / 2) x ceil(h / 2), as every 4:2:0 writer lays them out.
uint64_t chromaBytes(int32_t w, int32_t h);

// Writes frames to a raw YUV 4:2:0 file: each luma plane followed by neutral
// (128) chroma. Throws std::runtime_error when the file cannot be written.
class ClipWriter {
public:
    explicit ClipWriter(const std::string& path);
    ~ClipWriter();
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    void write(const Plane& luma);
    // Writes bytes as they are, for files that end inside a frame.
    void writeRaw(const uint8_t* bytes, size_t count);
    void close();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

// Natural-looking textured content (smooth shapes and fine detail) that
// drifts by (dx, dy) samples per frame; frame t of a moving clip.
Plane texture(int32_t w, int32_t h, int32_t t, int32_t dx = 2, int32_t dy = 1, uint32_t seed = 1);

// A deterministic stream of pseudo-random numbers.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    uint32_t next();
    // Uniform in 0 ... bound - 1.
    uint32_t below(uint32_t bound) { return next() % bound; }

private:
    uint64_t state_;
};

// A plane of independent random samples.
Plane randomPlane(int32_t w, int32_t h, uint64_t seed);

}  // namespace clips

namespace clips {

// One labelled stretch of the demonstration clip.
struct Segment {
    std::string name;     // what the stretch shows
    std::string columns;  // the columns it exercises
    int32_t first = 0;    // first frame index
    int32_t count = 0;    // number of frames
};

// The demonstration clip: clean moving textured content, and stretches that
// each add one impairment to it.
struct DemoClip {
    int32_t w = 512;
    int32_t h = 288;
    std::vector<Segment> segments;
    int32_t frames() const { return segments.empty() ? 0 : segments.back().first + segments.back().count; }
    // The segment that holds frame t.
    const Segment& segmentOf(int32_t t) const;
};

DemoClip demoClip();
// Luma plane of frame t of the demonstration clip.
Plane demoFrame(const DemoClip& clip, int32_t t);

// Geometry of the impairments, for checks against the measured values.
inline constexpr int32_t kDemoBarRows = 36;     // letterbox bars, top and bottom
inline constexpr int32_t kDemoBarColumns = 64;  // pillarbox bar, left

}  // namespace clips
