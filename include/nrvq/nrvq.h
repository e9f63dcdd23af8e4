// nrvq: no-reference video quality indicators measured on the luma plane.
//
// The library's public interface. It names no internal header, so it can be
// installed on its own: link nrvq::nrvq (CMake) or `pkg-config nrvq`.
//
//   nrvq::Analysis analysis(width, height, fps);
//   for (each frame) {
//       const nrvq::FrameResult r = analysis.push(luma, stride);
//       if (r.measured("blur")) use(r["blur"]);
//   }
//
//   const nrvq::FileResults file = nrvq::analyzeFile("clip.yuv", {.width = 512, .height = 288});
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace nrvq {

// How many indicators there are; every value array has this length.
inline constexpr std::size_t indicatorCount = 15;

// The indicators' stable keys, in the table's order (the order of the value
// arrays and of the command line's columns).
std::span<const std::string_view, indicatorCount> indicatorKeys();

// The position of key in the table's order; throws std::out_of_range for a
// key that names no indicator.
std::size_t indicatorIndex(std::string_view key);

// What the indicator table says of each indicator.
struct IndicatorDescription {
    std::string_view key;
    std::string_view kind;      // "single_frame", "frame_pair" (needs the previous frame) or "ordered_state"
    std::string_view type;      // "real", "flag" (0 or 1) or "truncated" (the log prints it as an integer)
    std::string_view logField;  // the results log's printf conversion
    bool measuredOnFirstFrame;
};
std::span<const IndicatorDescription, indicatorCount> indicatorDescriptions();

// How the frames are analysed. The values are the same for every choice.
struct Options {
    // Threads for a whole file: 0 for one per online core, 1 for one thread
    // doing everything in order. Analysis::push always runs on the caller's
    // thread.
    unsigned threads = 0;
    // The literal versions of the indicators instead of the fast ones.
    bool reference = false;
    // The indicators to compute: bit i for the i-th key of indicatorKeys().
    // What they need is computed too (freezing needs blackout and temporal
    // activity); the others read as not measured.
    std::uint32_t indicators = (1u << indicatorCount) - 1;
};

// One frame's record inside the library, known here only by name.
struct FrameRecord;

// A view of one frame's values, valid as long as what returned it: an
// Analysis until its next push, a FileResults for its whole life.
//
// Values are doubles: blackout and freezing are 0.0 or 1.0; exposure is the
// value before the command line's rows truncate it to an integer. A value
// that was not measured (the indicators that need a previous frame on the
// first frame; block loss, slice or flickering reporting -1) still reads as
// what the indicator returned; measured() tells them apart.
class FrameResult {
public:
    explicit FrameResult(const FrameRecord* record) : record_(record) {}

    // The frame's index, counted from the start of the input (files) or from
    // the first pushed frame (Analysis).
    std::int64_t index() const;
    // False on the first analysed frame.
    bool hasPrevious() const;
    // The frame's time in seconds: the container's timestamp for decoded
    // files, otherwise index / frame rate (pushed frames: from the first).
    double seconds() const;

    // All values in the table's order.
    std::span<const double, indicatorCount> values() const;
    double operator[](std::size_t column) const { return values()[column]; }
    // Throws std::out_of_range for an unknown key.
    double operator[](std::string_view key) const { return values()[indicatorIndex(key)]; }

    bool measured(std::size_t column) const;
    bool measured(std::string_view key) const { return measured(indicatorIndex(key)); }

private:
    const FrameRecord* record_;
};

// Frame-by-frame analysis of one video that the caller feeds. Frames are
// analysed at once on the calling thread; the temporal indicators carry state
// from each pushed frame to the next, so frames must come in order.
class Analysis {
public:
    // Throws std::invalid_argument, before allocating anything, for a size
    // that is not positive or whose 4:2:0 frame is over 2^31 - 1 bytes (as
    // the command line), or a frame rate that is not positive;
    // std::bad_alloc when the working memory does not fit.
    Analysis(std::int32_t width, std::int32_t height, double fps, const Options& options = {});
    ~Analysis();
    // A moved-from Analysis may only be destroyed or assigned to.
    Analysis(Analysis&&) noexcept;
    Analysis& operator=(Analysis&&) noexcept;
    Analysis(const Analysis&) = delete;
    Analysis& operator=(const Analysis&) = delete;

    // Analyses the luma plane whose width samples per row start stride bytes
    // apart (stride may be negative for bottom-up planes). The plane is read
    // during the call only. The result stays valid until the next push.
    FrameResult push(const std::uint8_t* luma, std::ptrdiff_t stride);

    std::int32_t width() const;
    std::int32_t height() const;
    double fps() const;
    // Frames pushed so far.
    std::int64_t frames() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// What analyzeFile is asked, as the command line asks it; unset fields come
// from the input where it says them (a raw file needs width and height).
struct FileOptions {
    std::optional<std::int32_t> width{};
    std::optional<std::int32_t> height{};
    std::optional<double> fps{};           // parseFrameRate reads "30000/1001"
    std::int32_t start = 0;                // first frame to examine
    std::optional<std::int32_t> frames{};  // how many frames; all when unset
    unsigned threads = 0;                  // as Options::threads
    bool reference = false;                // as Options::reference
    std::uint32_t indicators = (1u << indicatorCount) - 1;  // as Options::indicators
    // Layout of raw input (yuv420p, yuv422p, yuv444p, gray, their 10-bit
    // forms yuv420p10le ... gray10le); empty for yuv420p or what a
    // YUV4MPEG2 header says.
    std::string pixFmt{};
    // The video stream of a container file, counted over all its streams;
    // unset for its first video stream.
    std::optional<std::int32_t> stream{};
    // Instruction set of the fast kernels: "best", "scalar", "sse4", "avx2"
    // or "avx512" (one of simdLevels()). The level holds for the whole
    // process, as the command line's --simd; the values are the same at
    // every level.
    std::string simd = "best";
    // Event rules on top of the default ones, as the command line takes
    // them: rule texts as --rule ("blur > 12 for 1s : fatal"), a TOML file
    // as --rules, and kinds made fatal as --fail-on ("freezing,blackout",
    // "any", "warning"). Rules of indicators left out of indicators are
    // refused; the default ones are dropped.
    std::vector<std::string> rules{};
    std::string rulesFile{};
    std::string failOn{};
};

// The indicators of the command line's --only and --skip as the bits of
// Options::indicators: keys separated by commas, either text empty for none
// given; every indicator, or those of only, less those of skip. Throws
// std::invalid_argument naming an unknown key or an empty selection.
std::uint32_t selectIndicators(std::string_view only, std::string_view skip);

// The two indicators' own mappings of their values to a mean opinion score
// (higher is better); a value that is not finite is returned as it is.
double blockinessMos(double blockiness);
double blurMos(double blur);

// A span of frames in which an indicator met a rule's condition for at
// least the rule's duration: the command line's JSON events.
struct EventResult {
    std::string indicator;  // the indicator's key
    std::string severity;   // "info", "warning" or "fatal"
    std::int64_t first = 0;  // frame indices, both included
    std::int64_t last = 0;
    double start = 0;  // the first frame's time in seconds
    double end = 0;    // the next frame's time (the last one's plus one frame period at the end)
    double peak = 0;   // the worst value: highest for a rule on rising values, lowest otherwise
    std::string rule;  // "blur > 9 for 0.5s"
};

// The frame rate assumed when neither the caller nor the input gives one.
inline constexpr double kDefaultFrameRate = 25.0;

// Most threads a run uses (Options::threads, FileOptions::threads).
inline constexpr unsigned kMaxThreads = 256;

// The frame rates the command line and the library take.
inline constexpr double kMinFrameRate = 0.001;
inline constexpr double kMaxFrameRate = 100000;

// A frame rate as the command line takes it: a decimal number ("25",
// "29.97") or a fraction of two ("30000/1001"), from kMinFrameRate to
// kMaxFrameRate; no sign, exponent or hexadecimal. Empty for anything else.
std::optional<double> parseFrameRate(std::string_view text);

// The instruction sets of the fast kernels that this processor runs, lowest
// first ("scalar" is always there), then "best".
std::vector<std::string_view> simdLevels();

// Pooled statistics of one indicator over a file's frames where it has a
// finite, measured value.
struct IndicatorSummary {
    std::int64_t count = 0;    // frames with a value
    std::int64_t leftOut = 0;  // frames without one (not measured, or not finite)
    // Not-a-number when count is 0. Percentiles interpolate linearly between
    // the nearest ranks; stddev divides by count.
    double mean = 0, min = 0, max = 0, p5 = 0, p50 = 0, p95 = 0, stddev = 0;
};

// Consecutive frames, by frame index, both ends included.
struct FlagSpan {
    std::int64_t first = 0;
    std::int64_t last = 0;
};

// The input cannot be opened or read. what() is a complete sentence.
class InputFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every analysed frame of a file, in order.
class FileResults {
public:
    FileResults();
    ~FileResults();
    FileResults(FileResults&&) noexcept;
    FileResults& operator=(FileResults&&) noexcept;

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    FrameResult operator[](std::size_t i) const;

    std::int32_t width() const;
    std::int32_t height() const;
    double fps() const;
    std::int64_t startFrame() const;
    // What the input reader had to say at the end, if anything: frames the
    // input lacked, damaged data skipped; empty otherwise.
    const std::string& notes() const;

    // The pooled statistics of an indicator, as the command line's summary
    // and JSON output give them. Unknown keys throw std::out_of_range.
    IndicatorSummary summary(std::size_t column) const;
    IndicatorSummary summary(std::string_view key) const { return summary(indicatorIndex(key)); }
    // The runs of frames where a flag (blackout, freezing) is set.
    std::vector<FlagSpan> spans(std::string_view key) const;

    // Processor seconds each indicator took over the frames, in the table's
    // order, and the whole process's processor seconds during the run: the
    // command line's timing report.
    std::span<const double, indicatorCount> indicatorSeconds() const;
    double processSeconds() const;

    // The events of the run's rules, in the order they opened, and whether
    // one of them is fatal (the command line's exit status 3).
    const std::vector<EventResult>& events() const;
    bool fatal() const;

    class Iterator {
    public:
        Iterator(const FileResults* owner, std::size_t i) : owner_(owner), i_(i) {}
        FrameResult operator*() const { return (*owner_)[i_]; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        const FileResults* owner_;
        std::size_t i_;
    };
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

private:
    friend FileResults analyzeFile(const std::string&, const FileOptions&);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Analyses a whole input, opened as the command line opens it ("-" for
// standard input). Throws std::invalid_argument for options the command line
// refuses (a size as for Analysis, a rate outside kMinFrameRate ...
// kMaxFrameRate, a negative start, an unknown pixFmt or simd level, or one
// this processor lacks, a bad rule or rules file, no indicator selected), InputFailure when the input cannot be opened or a
// read fails, std::bad_alloc when the frame size does not fit in memory.
FileResults analyzeFile(const std::string& path, const FileOptions& options = {});

// The library's version.
std::string_view version();

}  // namespace nrvq
