#include "kernels/dispatch.h"

#include <array>

namespace nrvq::kernels {

namespace {

constexpr std::array<std::string_view, 5> kNames = {"scalar", "sse4", "avx2", "avx512", "best"};
SimdLevel active = SimdLevel::scalar;

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

std::vector<SimdLevel> availableSimdLevels() { return {SimdLevel::scalar}; }

bool setSimdLevel(SimdLevel level) {
    if (level == SimdLevel::best) {
        level = SimdLevel::scalar;
    }
    if (level != SimdLevel::scalar) {
        return false;
    }
    active = level;
    return true;
}

SimdLevel activeSimdLevel() { return active; }

}  // namespace nrvq::kernels
