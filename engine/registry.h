// The table of indicators: every row, header, report, output and binding
// iterates it instead of naming the fifteen indicators again, and the
// analysis takes from it which function computes a column.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct Image;  // tools/definitions.h

namespace nrvq {

class Scratch;  // kernels/scratch.h

// How an indicator depends on the frames around it.
enum class IndicatorKind {
    SingleFrame,  // the current frame alone
    FramePair,    // the current and the previous frame
    OrderedState  // state carried from frame to frame, so frames go in order
};

// How a value is printed in the rows.
enum class ValueType {
    Real,       // a double as it is
    Flag,       // 0 or 1
    Truncated,  // a double truncated to a 32-bit integer
};

// Column index of each indicator in the rows (and in FrameValues).
enum Column : uint8_t {
    kBlockiness,
    kSpatialActivity,
    kLetterbox,
    kPillarbox,
    kBlockLoss,
    kBlur,
    kTemporalActivity,
    kBlackout,
    kFreezing,
    kExposure,
    kContrast,
    kInterlace,
    kNoise,
    kSlice,
    kFlickering,
};
inline constexpr size_t kIndicatorCount = 15;

struct FrameRecord;     // engine/frame.h
struct TemporalInputs;  // engine/analyzer.h
struct TemporalMemory;  // engine/analyzer.h

// How a single-frame indicator is computed: its value for frame, with the
// working memory of scratch (installed as the image allocator around the
// call).
using FrameFunction = double (*)(const Image* frame, Scratch& scratch);

// What a temporal column's value is computed from, frame after frame in
// order: the frame and the one before it, what the pair steps found on the
// two, the video's carried state, and the columns computed before it in call
// order (freezing reads blackout and temporal activity).
struct TemporalFrame {
    const Image* frame;
    const Image* previous;
    const TemporalInputs& inputs;
    TemporalMemory& memory;
    const FrameRecord& record;
};
// The part of a temporal column that depends on the frame and the one before
// it alone, so that a worker may do it ahead of frame order.
using PairFunction = void (*)(const Image* frame, const Image* previous, TemporalInputs& inputs, Scratch& scratch);
// A temporal column's value, in frame order.
using OrderedFunction = double (*)(const TemporalFrame& at);

// One version (literal or fast) of an indicator: frame for a single-frame
// one; ordered, after pair where there is one, for a temporal one.
struct Implementation {
    FrameFunction frame = nullptr;
    PairFunction pair = nullptr;
    OrderedFunction ordered = nullptr;
};

struct IndicatorInfo {
    std::string_view key;           // stable name for outputs, selection and bindings
    IndicatorKind kind;
    ValueType type;
    int callOrder;                  // 1 ... 15: the order in which a frame's values are computed
    int reportOrder;                // 1 ... 15: position in the timing report
    std::string_view consoleTitle;  // its piece of the console header
    std::string_view logTitle;      // its piece of the log header
    std::string_view consoleField;  // printf field and the separator before it
    std::string_view logField;
    std::string_view reportField;   // its piece of the timing report
    bool measuredOnFirstFrame;      // false for the indicators that need a previous frame
    // The literal version (metrics/) and the fast one (kernels/).
    Implementation literal;
    Implementation fast;
    uint32_t needs;                 // columns it is computed from, bit i for column i
    std::optional<double> noValue;  // the value that means "nothing to report"
};

// In column order.
extern const std::array<IndicatorInfo, kIndicatorCount> kIndicators;

// The frame-index column that precedes the indicators.
inline constexpr std::string_view kFrameConsoleTitle = "Frame: ";
inline constexpr std::string_view kFrameLogTitle = "Frame: ";
inline constexpr std::string_view kFrameField = "%05i";

// Column indices in call order and in report order.
const std::array<Column, kIndicatorCount>& callOrder();
const std::array<Column, kIndicatorCount>& reportOrder();

// The column of a key, if there is one.
std::optional<Column> columnOf(std::string_view key);

// A set of columns, bit i for column i.
using ColumnSet = std::bitset<kIndicatorCount>;
inline constexpr unsigned long long kAllColumns = (1ull << kIndicatorCount) - 1;

// columns and what they need (IndicatorInfo::needs): freezing is computed
// from blackout and temporal activity.
ColumnSet withDependencies(ColumnSet columns);

}  // namespace nrvq
