// Instruction-set levels of the fast kernels, mapped onto Highway targets.
// Every kernel is compiled once per target (kernels/*.cpp include
// hwy/foreach_target.h) and called through Highway's dispatch tables; the
// level chosen here restricts the targets those tables may pick, for the
// whole process.
#include "kernels/dispatch.h"

#include <hwy/highway.h>
#include <hwy/targets.h>

#include <array>
#include <atomic>

namespace nrvq::kernels {

namespace {

constexpr std::array<std::string_view, 5> kNames = {"scalar", "sse4", "avx2", "avx512", "best"};

// The portable fallback that this compiler builds: EMU128 where it works,
// otherwise the one-lane SCALAR target.
constexpr int64_t kFallbackTarget = (HWY_TARGETS & HWY_EMU128) != 0 ? HWY_EMU128 : HWY_SCALAR;

// The Highway target of each level below best.
constexpr std::array<int64_t, 4> kTargets = {kFallbackTarget, HWY_SSE4, HWY_AVX2, HWY_AVX3};

static_assert((HWY_TARGETS & HWY_SSE4) != 0 && (HWY_TARGETS & HWY_AVX2) != 0 && (HWY_TARGETS & HWY_AVX3) != 0,
              "the kernels must be compiled for SSE4, AVX2 and AVX-512");

// The targets this processor runs, read once before any restriction is set
// (a restriction removes targets from what Highway reports).
int64_t detectedTargets() {
    static const int64_t detected = hwy::SupportedTargets();
    return detected;
}

std::atomic<SimdLevel> active{SimdLevel::best};

SimdLevel highestAvailable() { return availableSimdLevels().back(); }

}  // namespace

std::string_view simdLevelName(SimdLevel level) { return kNames[static_cast<size_t>(level)]; }

std::optional<SimdLevel> parseSimdLevel(std::string_view name) {
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i] == name) {
            return static_cast<SimdLevel>(i);
        }
    }
    return std::nullopt;
}

std::string simdLevelNames(std::string_view last) {
    std::string names;
    for (size_t i = 0; i < kNames.size(); ++i) {
        names += i == 0 ? "" : i + 1 < kNames.size() ? ", " : last;
        names += kNames[i];
    }
    return names;
}

std::vector<SimdLevel> availableSimdLevels() {
    const int64_t detected = detectedTargets();
    std::vector<SimdLevel> levels = {SimdLevel::scalar};
    for (const SimdLevel level : {SimdLevel::sse4, SimdLevel::avx2, SimdLevel::avx512}) {
        const int64_t target = kTargets[static_cast<size_t>(level)];
        if ((detected & target) != 0 && (HWY_TARGETS & target) != 0) {
            levels.push_back(level);
        }
    }
    return levels;
}

bool setSimdLevel(SimdLevel level) {
    if (level == SimdLevel::best) {
        level = highestAvailable();
    }
    bool available = false;
    for (const SimdLevel l : availableSimdLevels()) {
        available = available || l == level;
    }
    if (!available) {
        return false;
    }
    // The dispatch tables pick the best target left; the fallback is always
    // there for Highway's own needs.
    hwy::DisableTargets(~(kTargets[static_cast<size_t>(level)] | kFallbackTarget));
    active = level;
    return true;
}

SimdLevel activeSimdLevel() {
    const SimdLevel level = active;
    return level == SimdLevel::best ? highestAvailable() : level;
}

}  // namespace nrvq::kernels
