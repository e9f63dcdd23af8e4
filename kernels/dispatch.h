// The instruction-set level of the fast kernels: the best one the processor
// has, or one chosen on the command line (so that tests cover every level).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nrvq::kernels {

enum class SimdLevel { scalar, sse4, avx2, avx512, best };

std::string_view simdLevelName(SimdLevel level);
std::optional<SimdLevel> parseSimdLevel(std::string_view name);
// Every level's name, lowest first, "best" last, joined by ", " and by last
// before the final one: simdLevelNames(" or ") is "scalar, ... or best".
std::string simdLevelNames(std::string_view last);

// The levels this processor runs, lowest first; scalar is always there.
std::vector<SimdLevel> availableSimdLevels();

// Makes the fast kernels use the given level (best: the highest available)
// for the whole process. False, and nothing changed, when the processor
// lacks that level.
bool setSimdLevel(SimdLevel level);
SimdLevel activeSimdLevel();

}  // namespace nrvq::kernels
