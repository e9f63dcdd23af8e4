#include "engine/registry.h"

#include <algorithm>

#include "engine/analyzer.h"
#include "kernels/kernels.h"
#include "metrics/blackout.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/interlace.h"
#include "metrics/letterbox.h"
#include "metrics/noise.h"
#include "metrics/pillarbox.h"
#include "metrics/slice.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"

namespace nrvq {

namespace {

using K = IndicatorKind;
using V = ValueType;
namespace k = kernels;

// The single-frame versions, adapted to one signature. The literal ones
// take their working images from the allocator installed around the call.
template <double (*F)(const Image*)>
constexpr Implementation literal = {.frame = [](const Image* frame, Scratch&) { return F(frame); }};
template <double (*F)(const Image*, Scratch&)>
constexpr Implementation fast = {.frame = F};
constexpr Implementation literalBlackout = {
    .frame = [](const Image* frame, Scratch&) { return blackout(frame) ? 1.0 : 0.0; }};
constexpr Implementation fastBlackout = {
    .frame = [](const Image* frame, Scratch& s) { return k::blackout(frame, s) ? 1.0 : 0.0; }};

// The temporal ones. The fast versions do their work on the two frames in
// the pair step, which leaves the ordered step little to do.
constexpr Implementation literalActivity = {
    .ordered = [](const TemporalFrame& at) { return temporalActivity(at.frame, at.previous); }};
constexpr Implementation fastActivity = {
    .pair = [](const Image* frame, const Image* previous, TemporalInputs& inputs,
               Scratch& s) { inputs.activity = k::temporalActivity(frame, previous, s); },
    .ordered = [](const TemporalFrame& at) { return at.inputs.activity; }};
// Freezing is a comparison on two earlier columns: one version for both.
constexpr Implementation freezing = {.ordered = [](const TemporalFrame& at) {
    return at.memory.freezing.update(at.record.values[kBlackout] != 0.0, at.record.values[kTemporalActivity],
                                     at.memory.fps)
               ? 1.0
               : 0.0;
}};
constexpr Implementation literalFlickering = {.ordered = [](const TemporalFrame& at) {
    return at.memory.flickering.update(at.frame, at.previous, at.memory.transitionCounts.get(),
                                       at.memory.blockStates.get());
}};
constexpr Implementation fastFlickering = {
    .pair = [](const Image* frame, const Image* previous, TemporalInputs& inputs,
               Scratch&) { k::changedBlocks(frame, previous, frame->w / 8, frame->h / 8, inputs.changed.data()); },
    .ordered = [](const TemporalFrame& at) {
        return k::flickeringUpdate(at.memory.flickering, at.inputs.changed.data(), at.memory.transitionCounts.get(),
                                   at.memory.blockStates.get());
    }};

constexpr uint32_t none = 0;
constexpr uint32_t blackoutAndActivity = (1u << kBlackout) | (1u << kTemporalActivity);
constexpr std::optional<double> always = std::nullopt;  // every computed value is measured
constexpr std::optional<double> minusOne = -1.0;

}  // namespace

// Columns in row order: key, kind, value type, call and report order, the
// console and log titles and fields, the timing report's field, whether the
// first frame has a value, the literal and fast entry points, the columns it
// is computed from, and the value that means "nothing to report". The separators in the fields reproduce the rows'
// fixed layout: a blank and a tab between fields, a blank and two tabs on
// the console after spatial activity, blackout, freezing and exposure.
const std::array<IndicatorInfo, kIndicatorCount> kIndicators = {{
    {"blockiness", K::SingleFrame, V::Real, 1, 1, "\tBlockiness: ", "\tBlockiness: ", " \t%-5.5f", " \t%-5.5f",
     "\tBlockiness: %02.6f ms ", true,
     literal<blockiness>, fast<k::blockiness>, none, always},
    {"spatial_activity", K::SingleFrame, V::Real, 2, 2, "\tSpatial Activity: ", "\tSA: ", " \t%-5.5f",
     " \t%-5.5f", "\tSpatialAct: %02.6f ms ", true,
     literal<spatialActivity>, fast<k::spatialActivity>, none, always},
    {"letterbox", K::SingleFrame, V::Real, 3, 3, "\tLetterbox: ", "\tLetterbox: ", " \t\t%-5.5f", " \t%-5.5f",
     "\tLetterbox: %02.6f ms \n", true,
     literal<letterbox>, fast<k::letterbox>, none, always},
    {"pillarbox", K::SingleFrame, V::Real, 4, 4, "\tPillarbox: ", "\tPillarbox: ", " \t%-5.5f", " \t%-5.5f",
     "\tPillarbox: %02.6f ms \t", true,
     literal<pillarbox>, fast<k::pillarbox>, none, always},
    {"block_loss", K::SingleFrame, V::Real, 5, 5, "\tBlockloss: ", "\tBlockloss: ", " \t%-5.5f", " \t%-5.5f",
     "\tBlockLoss: %02.6f ms \t", true,
     literal<blockLoss>, fast<k::blockLoss>, none, minusOne},
    {"blur", K::SingleFrame, V::Real, 6, 6, "\tBlur: \t", "\tBlur: ", " \t%-7.3f", " \t%-5.3f",
     "\tBlur: %02.6f ms \n ", true,
     literal<blur>, fast<k::blur>, none, always},
    {"temporal_activity", K::FramePair, V::Real, 13, 12, "\tTemporalAct: ", "\tTA: ", " \t%-5.5f", " \t%-5.5f",
     "\tTemporal: %02.6f ms \n ", false,
     literalActivity, fastActivity, none, always},
    {"blackout", K::SingleFrame, V::Flag, 11, 11, "\tBlackout: ", "\tBlackout: ", " \t%-d", " \t%-d",
     "\tBlackout: %02.6f ms \t", true,
     literalBlackout, fastBlackout, none, always},
    {"freezing", K::OrderedState, V::Flag, 14, 13, "\tFreezing: ", "\tFreezing: ", " \t\t%-d", " \t%-d",
     "\tFreezing : %02.6f ms\t", false,
     freezing, freezing, blackoutAndActivity, always},
    {"exposure", K::SingleFrame, V::Truncated, 7, 7, "\tExposure(bri): ", "\tExposure(bri): ", " \t\t%-6i",
     " \t%-6i", "\tExposure: %02.6f ms \t", true,
     literal<exposure>, fast<k::exposure>, none, always},
    {"contrast", K::SingleFrame, V::Real, 12, 15, "\tContrast: ", "\tContrast: ", " \t\t%-5.5f", " \t%-5.5f",
     "\tContrast: %02.6f ms\n", true,
     literal<contrastRMS>, fast<k::contrastRMS>, none, always},
    {"interlace", K::SingleFrame, V::Real, 8, 8, "\tInterlace: ", "\tInterlace: ", " \t%-5.5f", " \t%-5.5f",
     "\tInterlace: %02.6f ms \t", true,
     literal<interlace>, fast<k::interlace>, none, always},
    {"noise", K::SingleFrame, V::Real, 9, 9, "\tNoise: \t", "\tNoise: ", " \t%-8.4f", " \t%-8.4f",
     "\tNoise: %02.6f ms \n ", true,
     literal<noise>, fast<k::noise>, none, always},
    {"slice", K::SingleFrame, V::Real, 10, 10, "\tSlice: \t", "\tSlice: ", " \t%-7.3f", " \t%-7.3f",
     "\tSlice: %02.6f ms\t", true,
     literal<slice>, fast<k::slice>, none, minusOne},
    {"flickering", K::OrderedState, V::Real, 15, 14, "\tFlickering:", "\tFlickering:", " \t%-5.5f", " \t%-5.5f",
     "\tFlickering: %02.6f ms ", false,
     literalFlickering, fastFlickering, none, minusOne},
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
    // Until nothing is added, for needs of needs.
    for (ColumnSet before; before != columns;) {
        before = columns;
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            if (before[c]) {
                columns |= ColumnSet(kIndicators[c].needs);
            }
        }
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
