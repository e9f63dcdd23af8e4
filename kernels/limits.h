// The frame sizes the fast kernels take on themselves.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

namespace nrvq::kernels {

// True when the frame's sample count, and so every row offset and sample
// index, fits 32 bits. Several literal indicators form their indices in
// unsigned 32-bit arithmetic, which wraps on larger frames; the kernels hand
// such frames to the literal version, so that they need no wrapping indices
// and their integer sums stay far from their limits.
inline bool indexFits32(const Image* frame) {
    constexpr uint64_t kLimit = uint64_t{1} << 32;
    return frame->w < kLimit && frame->h < kLimit && frame->w * frame->h < kLimit;
}

}  // namespace nrvq::kernels
