#include "clips/clip.h"

#include <cmath>
#include <stdexcept>

namespace clips {

uint64_t chromaBytes(int32_t w, int32_t h) {
    const uint64_t luma = static_cast<uint64_t>(w) * static_cast<uint64_t>(h);
    return (3 * luma) / 2 - luma;
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
