#include "kernels/fills.h"

#include <random>
#include <stdexcept>

namespace kernel_testing {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A random level per cell of a grid of side cell.
uint8_t cellLevel(uint64_t seed, uint64_t cx, uint64_t cy) {
    uint64_t z = seed ^ (cx * 0x9E3779B97F4A7C15ULL) ^ (cy * 0xC2B2AE3D27D4EB4FULL);
    z = (z ^ (z >> 31)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return static_cast<uint8_t>((z ^ (z >> 31)) >> 56);
}

}  // namespace

bool sanitized() { return kSanitized; }

std::vector<Fill> allFills() {
    return {Fill::zeros,     Fill::full,        Fill::checker01, Fill::checker254, Fill::rampH,    Fill::rampV,
            Fill::rampDiag,  Fill::flat8,       Fill::flat16,    Fill::stripesV,   Fill::columnPairs,
            Fill::sobelPeak, Fill::stripesH,    Fill::combed,    Fill::blockStep,  Fill::spike,    Fill::random};
}

std::string_view fillName(Fill fill) {
    switch (fill) {
        case Fill::zeros: return "zeros";
        case Fill::full: return "full";
        case Fill::checker01: return "checker01";
        case Fill::checker254: return "checker254";
        case Fill::rampH: return "rampH";
        case Fill::rampV: return "rampV";
        case Fill::rampDiag: return "rampDiag";
        case Fill::flat8: return "flat8";
        case Fill::flat16: return "flat16";
        case Fill::stripesV: return "stripesV";
        case Fill::columnPairs: return "columnPairs";
        case Fill::sobelPeak: return "sobelPeak";
        case Fill::stripesH: return "stripesH";
        case Fill::combed: return "combed";
        case Fill::blockStep: return "blockStep";
        case Fill::spike: return "spike";
        case Fill::random: return "random";
    }
    return "?";
}

void fillImage(Image* image, Fill fill, uint64_t seed) {
    std::mt19937_64 random(seed);
    for (uint64_t y = 0; y < image->h; ++y) {
        for (uint64_t x = 0; x < image->w; ++x) {
            uint8_t v = 0;
            switch (fill) {
                case Fill::zeros: v = 0; break;
                case Fill::full: v = 255; break;
                case Fill::checker01: v = static_cast<uint8_t>((x + y) & 1); break;
                case Fill::checker254: v = static_cast<uint8_t>(254 + ((x + y) & 1)); break;
                case Fill::rampH: v = static_cast<uint8_t>(x); break;
                case Fill::rampV: v = static_cast<uint8_t>(y); break;
                case Fill::rampDiag: v = static_cast<uint8_t>(x + 3 * y); break;
                case Fill::flat8: v = cellLevel(seed, x / 8, y / 8); break;
                case Fill::flat16: v = cellLevel(seed, x / 16, y / 16); break;
                case Fill::stripesV: v = (x / 4) % 2 == 0 ? 0 : 255; break;
                case Fill::columnPairs: v = (x / 2) % 2 == 0 ? 0 : 255; break;
                case Fill::sobelPeak: v = y % 3 == 0 ? 0 : y % 3 == 2 ? 255 : (x / 2) % 2 == 0 ? 0 : 255; break;
                case Fill::stripesH: v = (y / 4) % 2 == 0 ? 0 : 255; break;
                case Fill::combed: v = y % 2 == 0 ? 0 : 255; break;
                case Fill::blockStep: v = x / 8 == 1 && y / 8 == 1 ? 4 : 0; break;
                case Fill::spike: v = x == 9 && y == 10 ? 255 : 0; break;
                case Fill::random: v = static_cast<uint8_t>(random() >> 56); break;
            }
            image->data[y * image->w + x] = v;
        }
    }
}

OwnedImage<Image> filledImage(uint64_t w, uint64_t h, Fill fill, uint64_t seed) {
    OwnedImage<Image> image(callocImage(w, h));
    fillImage(image.get(), fill, seed);
    return image;
}

std::vector<std::pair<uint64_t, uint64_t>> frameSizes() {
    std::vector<std::pair<uint64_t, uint64_t>> sizes;
    for (uint64_t h = 0; h <= 40; ++h) {
        for (uint64_t w = 0; w <= 40; ++w) {
            // Under the sanitizers: every size up to 9 on one side, and a
            // spread of the rest.
            if (!kSanitized || w <= 9 || h <= 9 || (w * 7 + h * 3) % 4 == 0) {
                sizes.emplace_back(w, h);
            }
        }
    }
    // Rows wide enough for every vector loop to flush its 32-bit lanes; at
    // 70 000 samples a sobelPeak row passes 2^32 in a Sobel lane flushed
    // only every 1024 steps.
    for (auto size : {std::pair<uint64_t, uint64_t>{257, 263}, {1023, 17}, {8300, 4}, {70000, 3}, {1920, 1080}}) {
        sizes.push_back(size);
    }
    return sizes;
}

void forEachSimdLevel(const std::function<void(nrvq::kernels::SimdLevel)>& fn) {
    using nrvq::kernels::SimdLevel;
    struct Restore {
        ~Restore() { nrvq::kernels::setSimdLevel(SimdLevel::best); }
    } restore;
    for (const SimdLevel level : nrvq::kernels::availableSimdLevels()) {
        if (!nrvq::kernels::setSimdLevel(level)) {
            throw std::logic_error("an available level could not be set");
        }
        fn(level);
    }
}

}  // namespace kernel_testing
