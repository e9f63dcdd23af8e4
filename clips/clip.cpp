#include "clips/clip.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace clips {

uint64_t chromaBytes(int32_t w, int32_t h) {
    const uint64_t cw = (static_cast<uint64_t>(w) + 1) / 2;
    const uint64_t ch = (static_cast<uint64_t>(h) + 1) / 2;
    return 2 * cw * ch;
}

ClipWriter::ClipWriter(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
}

ClipWriter::~ClipWriter() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void ClipWriter::write(const Plane& luma) {
    writeRaw(luma.samples.data(), luma.samples.size());
    const std::vector<uint8_t> chroma(chromaBytes(luma.w, luma.h), 128);
    writeRaw(chroma.data(), chroma.size());
}

void ClipWriter::writeRaw(const uint8_t* bytes, size_t count) {
    if (count != 0 && std::fwrite(bytes, 1, count, file_) != count) {
        throw std::runtime_error("cannot write " + path_);
    }
}

void ClipWriter::close() {
    if (file_ != nullptr && std::fclose(file_) != 0) {
        file_ = nullptr;
        throw std::runtime_error("cannot write " + path_);
    }
    file_ = nullptr;
}

uint32_t Random::next() {
    // xorshift64*
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return static_cast<uint32_t>((state_ * 0x2545F4914F6CDD1DULL) >> 32);
}

Plane randomPlane(int32_t w, int32_t h, uint64_t seed) {
    Plane plane(w, h);
    Random random(seed);
    for (uint8_t& sample : plane.samples) {
        sample = static_cast<uint8_t>(random.next() >> 24);
    }
    return plane;
}

namespace {

// Smooth value noise: a lattice of random values every `cell` samples,
// interpolated with a smooth step.
double latticeValue(int64_t x, int64_t y, uint32_t seed) {
    uint64_t v = static_cast<uint64_t>(x) * 0x9E3779B1ULL ^ static_cast<uint64_t>(y) * 0x85EBCA77ULL ^
                 static_cast<uint64_t>(seed) * 0xC2B2AE3DULL;
    v ^= v >> 15;
    v *= 0x2C1B3C6DULL;
    v ^= v >> 12;
    v *= 0x297A2D39ULL;
    v ^= v >> 15;
    return static_cast<double>(v & 0xFFFF) / 65535.0;
}

double valueNoise(double x, double y, double cell, uint32_t seed) {
    const double fx = x / cell;
    const double fy = y / cell;
    const int64_t ix = static_cast<int64_t>(std::floor(fx));
    const int64_t iy = static_cast<int64_t>(std::floor(fy));
    const double tx = fx - static_cast<double>(ix);
    const double ty = fy - static_cast<double>(iy);
    const double sx = tx * tx * (3.0 - 2.0 * tx);
    const double sy = ty * ty * (3.0 - 2.0 * ty);
    const double top = latticeValue(ix, iy, seed) * (1.0 - sx) + latticeValue(ix + 1, iy, seed) * sx;
    const double bottom = latticeValue(ix, iy + 1, seed) * (1.0 - sx) + latticeValue(ix + 1, iy + 1, seed) * sx;
    return top * (1.0 - sy) + bottom * sy;
}

}  // namespace

Plane texture(int32_t w, int32_t h, int32_t t, int32_t dx, int32_t dy, uint32_t seed) {
    Plane plane(w, h);
    const double ox = static_cast<double>(t) * dx;
    const double oy = static_cast<double>(t) * dy;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const double px = x + ox;
            const double py = y + oy;
            const double value = 40.0 + 120.0 * valueNoise(px, py, 48.0, seed) +
                                 50.0 * valueNoise(px, py, 12.0, seed + 1) +
                                 30.0 * valueNoise(px, py, 3.0, seed + 2);
            plane.at(y, x) = static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, value))));
        }
    }
    return plane;
}

}  // namespace clips

namespace clips {

namespace {

constexpr int32_t kSegmentFrames = 24;  // three flickering periods
constexpr int32_t kDriftX = 2;
constexpr int32_t kDriftY = 1;
constexpr int32_t kInterlaceDelay = 8;  // frames between the two fields of an interlaced frame

uint8_t clampSample(double value) {
    return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, value))));
}

// The moving content: one large textured picture that the frames are cut
// from, each frame further along it, so that the clip pans steadily.
class Scene {
public:
    Scene(int32_t w, int32_t h, int32_t frames)
        : w_(w), h_(h), world_(texture(w + kDriftX * (frames + kInterlaceDelay), h + kDriftY * (frames + kInterlaceDelay), 0)) {}

    Plane at(int32_t t) const {
        Plane plane(w_, h_);
        for (int32_t y = 0; y < h_; ++y) {
            for (int32_t x = 0; x < w_; ++x) {
                plane.at(y, x) = world_.at(y + kDriftY * t, x + kDriftX * t);
            }
        }
        return plane;
    }

private:
    int32_t w_;
    int32_t h_;
    Plane world_;
};

const Scene& sceneFor(const DemoClip& clip) {
    static const Scene scene(clip.w, clip.h, clip.frames());
    return scene;
}

// Every 8 x 8 block replaced by its mean, as a very coarse quantiser leaves it.
void quantiseBlocks(Plane& plane) {
    for (int32_t by = 0; by + 8 <= plane.h; by += 8) {
        for (int32_t bx = 0; bx + 8 <= plane.w; bx += 8) {
            int sum = 0;
            for (int32_t y = by; y < by + 8; ++y) {
                for (int32_t x = bx; x < bx + 8; ++x) {
                    sum += plane.at(y, x);
                }
            }
            const uint8_t mean = static_cast<uint8_t>((sum + 32) / 64);
            for (int32_t y = by; y < by + 8; ++y) {
                for (int32_t x = bx; x < bx + 8; ++x) {
                    plane.at(y, x) = mean;
                }
            }
        }
    }
}

// 32 x 32 squares on the 16-sample grid, one in each 256 x 256 region,
// blanked as a decoder shows blocks it has lost.
void loseBlocks(Plane& plane, int32_t t) {
    for (int32_t ry = 0; ry + 256 <= plane.h; ry += 256) {
        for (int32_t rx = 0; rx + 256 <= plane.w; rx += 256) {
            const int32_t top = ry + 16 * (3 + (t + rx / 64) % 8);
            const int32_t left = rx + 16 * (2 + (t / 2 + ry / 64) % 9);
            for (int32_t y = top; y < top + 32; ++y) {
                for (int32_t x = left; x < left + 32; ++x) {
                    plane.at(y, x) = 0;
                }
            }
        }
    }
}

// Box blur of the given radius, rows then columns, edges repeated.
void boxBlur(Plane& plane, int32_t radius) {
    Plane rows = plane;
    const int32_t taps = 2 * radius + 1;
    for (int32_t y = 0; y < plane.h; ++y) {
        for (int32_t x = 0; x < plane.w; ++x) {
            int sum = 0;
            for (int32_t d = -radius; d <= radius; ++d) {
                sum += plane.at(y, std::min(plane.w - 1, std::max(0, x + d)));
            }
            rows.at(y, x) = static_cast<uint8_t>((sum + taps / 2) / taps);
        }
    }
    for (int32_t y = 0; y < plane.h; ++y) {
        for (int32_t x = 0; x < plane.w; ++x) {
            int sum = 0;
            for (int32_t d = -radius; d <= radius; ++d) {
                sum += rows.at(std::min(plane.h - 1, std::max(0, y + d)), x);
            }
            plane.at(y, x) = static_cast<uint8_t>((sum + taps / 2) / taps);
        }
    }
}

void addBars(Plane& plane) {
    for (int32_t y = 0; y < plane.h; ++y) {
        for (int32_t x = 0; x < plane.w; ++x) {
            if (y < kDemoBarRows || y >= plane.h - kDemoBarRows || x < kDemoBarColumns) {
                plane.at(y, x) = 0;
            }
        }
    }
}

// Squeezes the range of the samples into lo ... hi.
void remap(Plane& plane, double lo, double hi) {
    for (uint8_t& sample : plane.samples) {
        sample = clampSample(lo + (hi - lo) * sample / 255.0);
    }
}

void addNoise(Plane& plane, double sigma, uint64_t seed) {
    Random random(seed);
    for (uint8_t& sample : plane.samples) {
        const double u1 = (random.next() + 1.0) / 4294967297.0;
        const double u2 = random.next() / 4294967296.0;
        const double gaussian = std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
        sample = clampSample(sample + sigma * gaussian);
    }
}

// A band of rows that repeats itself every 16 columns, as a broken slice
// smeared across the picture.
void smearBand(Plane& plane, int32_t top, int32_t rows) {
    for (int32_t y = top; y < top + rows && y < plane.h; ++y) {
        for (int32_t x = 16; x < plane.w; ++x) {
            plane.at(y, x) = plane.at(y, x % 16);
        }
    }
}

}  // namespace

const Segment& DemoClip::segmentOf(int32_t t) const {
    for (const Segment& segment : segments) {
        if (t >= segment.first && t < segment.first + segment.count) {
            return segment;
        }
    }
    throw std::out_of_range("frame outside the demonstration clip");
}

DemoClip demoClip() {
    DemoClip clip;
    const std::vector<std::pair<std::string, std::string>> stretches = {
        {"clean", "reference for every column"},
        {"blocky", "Blockiness"},
        {"lost blocks", "Blockloss"},
        {"blurred", "Blur"},
        {"bars", "Letterbox, Pillarbox"},
        {"black", "Blackout"},
        {"frozen", "Freezing"},
        {"flickering", "Flickering"},
        {"dark, bright, grey", "Exposure(bri), Contrast"},
        {"interlaced", "Interlace"},
        {"noisy", "Noise"},
        {"sliced", "Slice"},
        {"clean", "reference for every column"},
    };
    int32_t first = 0;
    for (const auto& [name, columns] : stretches) {
        clip.segments.push_back(Segment{name, columns, first, kSegmentFrames});
        first += kSegmentFrames;
    }
    return clip;
}

Plane demoFrame(const DemoClip& clip, int32_t t) {
    const Scene& scene = sceneFor(clip);
    const Segment& segment = clip.segmentOf(t);
    const int32_t i = t - segment.first;  // position inside the segment
    const std::string& name = segment.name;
    Plane plane = scene.at(t);
    if (name == "blocky") {
        quantiseBlocks(plane);
    } else if (name == "lost blocks") {
        loseBlocks(plane, i);
    } else if (name == "blurred") {
        boxBlur(plane, 3);
        boxBlur(plane, 3);
    } else if (name == "bars") {
        addBars(plane);
    } else if (name == "black") {
        plane = Plane(clip.w, clip.h, 0);
    } else if (name == "frozen") {
        // Two stills of half a segment each.
        plane = scene.at(segment.first + (i / (segment.count / 2)) * (segment.count / 2));
    } else if (name == "flickering") {
        // The middle of the picture changes only on every other frame, the
        // rest on every frame.
        const Plane slow = scene.at(t - t % 2);
        for (int32_t y = clip.h / 4; y < 3 * clip.h / 4; ++y) {
            for (int32_t x = clip.w / 4; x < 3 * clip.w / 4; ++x) {
                plane.at(y, x) = slow.at(y, x);
            }
        }
    } else if (name == "dark, bright, grey") {
        const int32_t third = segment.count / 3;
        if (i < third) {
            remap(plane, 0.0, 40.0);
        } else if (i < 2 * third) {
            remap(plane, 215.0, 255.0);
        } else {
            plane = Plane(clip.w, clip.h, 128);
        }
    } else if (name == "interlaced") {
        // Odd lines from a later moment than the even ones.
        const Plane later = scene.at(t + kInterlaceDelay);
        for (int32_t y = 1; y < clip.h; y += 2) {
            for (int32_t x = 0; x < clip.w; ++x) {
                plane.at(y, x) = later.at(y, x);
            }
        }
    } else if (name == "noisy") {
        addNoise(plane, 12.0, static_cast<uint64_t>(t) + 1);
    } else if (name == "sliced") {
        smearBand(plane, 112, 48);
    }
    return plane;
}

}  // namespace clips
