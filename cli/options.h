// The command line: the positional form `nrvq FILE WIDTH HEIGHT [FPS]
// [NumberOfFrames] [startFrame]` and the options, which may stand before or
// after the positionals.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/events.h"
#include "kernels/dispatch.h"

namespace nrvq::cli {

// Inputs of --compare at the most: the report tells eight lines apart by colour.
inline constexpr size_t kMaxCompared = 7;

struct Options {
    std::string input;  // path, or "-" for standard input
    std::optional<int32_t> width;
    std::optional<int32_t> height;
    std::optional<double> fps;
    std::optional<int32_t> frames;  // how many frames to examine
    int32_t start = 0;              // first frame to examine
    std::optional<int32_t> stream;  // video stream of a container file
    // How many positionals stood on the command line (the usage check). One
    // alone is a self-describing input (YUV4MPEG2, a container), or not enough.
    size_t positionals = 0;

    unsigned threads = 0;  // 0: one per online core
    bool reference = false;
    kernels::SimdLevel simd = kernels::SimdLevel::best;

    std::string pixFmt;  // raw layout; "" for yuv420p or what the input's header says

    std::string logPath = "metricsResultsCSV.csv";
    bool noLog = false;

    // Further outputs (cli/outputs.h); "-" for standard output.
    std::string jsonPath;
    std::string csvPath;
    std::string reportPath;
    // --compare: further inputs whose charts the report draws beside the
    // main input's, analysed with the same options.
    std::vector<std::string> compare;
    bool jsonGiven = false;
    bool csvGiven = false;
    bool reportGiven = false;
    bool eventsGiven = false;
    bool summary = false;
    bool quiet = false;
    bool progress = false;
    std::string eventsPath;  // --events: the events as CSV
    // --jsonl: a JSON line per frame, per event and per window, as they come.
    std::string jsonlPath;
    bool jsonlGiven = false;
    double windowSeconds = 10;  // --window: the span of the rolling statistics
    // --listen HOST:PORT: the metrics endpoint; empty: none.
    std::string listenHost;
    int listenPort = 0;

    // Network inputs: --input-option KEY=VALUE for the demuxer and protocol,
    // and --once (an end or a failure of the stream ends the run).
    std::vector<std::pair<std::string, std::string>> inputOptions;
    bool once = false;

    // Event rules (engine/rules.h): the defaults with --rules FILE and --rule
    // on top, --fail-on kinds fatal.
    std::vector<EventRule> rules;

    // --only / --skip: the indicators of the data outputs, the summary and
    // the events (what they need is computed too). The console rows and the
    // log are written only when every indicator is.
    ColumnSet indicators{kAllColumns};

    bool help = false;
    bool version = false;
};

// What parsing the command line came to.
struct ParseResult {
    enum Status {
        Ok,
        Help,            // print help text and stop with success
        Version,         // print the version and stop with success
        NotEnough,       // too few positionals: the usage text
        Invalid,         // a bad value: message names it and the limit, then the usage text
    } status = Ok;
    Options options;
    // For Invalid: one line, "Invalid NAME "text": expected ...", naming
    // the argument and what it may be.
    std::string message;
    std::string help;     // for Help
};

ParseResult parseCommandLine(int argc, const char* const* argv);

// The usage text, with the program's name in it.
std::string usageText(const std::string& program);

}  // namespace nrvq::cli
