// Scratch slot numbers: every kernel owns a range of its own, so that kernels
// sharing one Scratch never hand each other's buffers out.
#pragma once

#include <cstdint>

namespace nrvq::kernels {

inline constexpr uint32_t kSlotsPerKernel = 16;

enum class KernelSlots : uint32_t {
    blockiness,
    spatialActivity,
    letterbox,
    pillarbox,
    blockLoss,
    blur,
    exposure,
    interlace,
    noise,
    slice,
    blackout,
    contrast,
    temporalActivity,
    flickering,
    shared,  // block statistics shared by several kernels
};

// Slot k (0 ... 15) of a kernel's range.
constexpr uint32_t slot(KernelSlots kernel, uint32_t k) {
    return static_cast<uint32_t>(kernel) * kSlotsPerKernel + k;
}

}  // namespace nrvq::kernels
