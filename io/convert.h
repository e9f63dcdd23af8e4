// Sample conversions shared by the frame sources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nrvq {

// Narrows samples of the given bit depth (9 ... 16) to 8 bits by rounding:
// (v + 2^(bits-9)) >> (bits-8), clipped to 255; for 10 bits (v + 2) >> 2.
// Samples above the depth's range are clipped too.
inline void narrowSamples(const uint16_t* src, int bits, uint8_t* dst, size_t count) {
    const int shift = bits - 8;
    const uint32_t half = 1u << (shift - 1);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = (static_cast<uint32_t>(src[i]) + half) >> shift;
        dst[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
}

}  // namespace nrvq
