#include "engine/registry.h"

#include <algorithm>

namespace nrvq {

using K = IndicatorKind;
using V = ValueType;

// Columns in row order. The separators in the fields reproduce the rows'
// fixed layout: a blank and a tab between fields, a blank and two tabs on
// the console after spatial activity, blackout, freezing and exposure.
const std::array<IndicatorInfo, kIndicatorCount> kIndicators = {{
    {"blockiness", K::SingleFrame, V::Real, 1, 1, "\tBlockiness: ", "\tBlockiness: ", " \t%-5.5f", " \t%-5.5f",
     "\tBlockiness: %02.6f ms ", true},
    {"spatial_activity", K::SingleFrame, V::Real, 2, 2, "\tSpatial Activity: ", "\tSA: ", " \t%-5.5f",
     " \t%-5.5f", "\tSpatialAct: %02.6f ms ", true},
    {"letterbox", K::SingleFrame, V::Real, 3, 3, "\tLetterbox: ", "\tLetterbox: ", " \t\t%-5.5f", " \t%-5.5f",
     "\tLetterbox: %02.6f ms \n", true},
    {"pillarbox", K::SingleFrame, V::Real, 4, 4, "\tPillarbox: ", "\tPillarbox: ", " \t%-5.5f", " \t%-5.5f",
     "\tPillarbox: %02.6f ms \t", true},
    {"block_loss", K::SingleFrame, V::Real, 5, 5, "\tBlockloss: ", "\tBlockloss: ", " \t%-5.5f", " \t%-5.5f",
     "\tBlockLoss: %02.6f ms \t", true},
    {"blur", K::SingleFrame, V::Real, 6, 6, "\tBlur: \t", "\tBlur: ", " \t%-7.3f", " \t%-5.3f",
     "\tBlur: %02.6f ms \n ", true},
    {"temporal_activity", K::FramePair, V::Real, 13, 12, "\tTemporalAct: ", "\tTA: ", " \t%-5.5f", " \t%-5.5f",
     "\tTemporal: %02.6f ms \n ", false},
    {"blackout", K::SingleFrame, V::Flag, 11, 11, "\tBlackout: ", "\tBlackout: ", " \t%-d", " \t%-d",
     "\tBlackout: %02.6f ms \t", true},
    {"freezing", K::OrderedState, V::Flag, 14, 13, "\tFreezing: ", "\tFreezing: ", " \t\t%-d", " \t%-d",
     "\tFreezing : %02.6f ms\t", false},
    {"exposure", K::SingleFrame, V::Truncated, 7, 7, "\tExposure(bri): ", "\tExposure(bri): ", " \t\t%-6i",
     " \t%-6i", "\tExposure: %02.6f ms \t", true},
    {"contrast", K::SingleFrame, V::Real, 12, 15, "\tContrast: ", "\tContrast: ", " \t\t%-5.5f", " \t%-5.5f",
     "\tContrast: %02.6f ms\n", true},
    {"interlace", K::SingleFrame, V::Real, 8, 8, "\tInterlace: ", "\tInterlace: ", " \t%-5.5f", " \t%-5.5f",
     "\tInterlace: %02.6f ms \t", true},
    {"noise", K::SingleFrame, V::Real, 9, 9, "\tNoise: \t", "\tNoise: ", " \t%-8.4f", " \t%-8.4f",
     "\tNoise: %02.6f ms \n ", true},
    {"slice", K::SingleFrame, V::Real, 10, 10, "\tSlice: \t", "\tSlice: ", " \t%-7.3f", " \t%-7.3f",
     "\tSlice: %02.6f ms\t", true},
    {"flickering", K::OrderedState, V::Real, 15, 14, "\tFlickering:", "\tFlickering:", " \t%-5.5f", " \t%-5.5f",
     "\tFlickering: %02.6f ms ", false},
}};

namespace {

std::array<Column, kIndicatorCount> orderBy(int IndicatorInfo::*position) {
    std::array<Column, kIndicatorCount> order{};
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        order[static_cast<size_t>(kIndicators[c].*position - 1)] = static_cast<Column>(c);
    }
    return order;
}

}  // namespace

const std::array<Column, kIndicatorCount>& callOrder() {
    static const auto order = orderBy(&IndicatorInfo::callOrder);
    return order;
}

const std::array<Column, kIndicatorCount>& reportOrder() {
    static const auto order = orderBy(&IndicatorInfo::reportOrder);
    return order;
}

ColumnSet withDependencies(ColumnSet columns) {
    if (columns[kFreezing]) {
        columns.set(kBlackout).set(kTemporalActivity);
    }
    return columns;
}

std::optional<Column> columnOf(std::string_view key) {
    const auto it = std::find_if(kIndicators.begin(), kIndicators.end(),
                                 [key](const IndicatorInfo& info) { return info.key == key; });
    if (it == kIndicators.end()) {
        return std::nullopt;
    }
    return static_cast<Column>(it - kIndicators.begin());
}

}  // namespace nrvq
