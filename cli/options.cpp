#include "cli/options.h"

#include "io/layout.h"
#include "nrvq/nrvq.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <optional>

namespace nrvq::cli {

namespace {

// Text that is entirely a base-10 integer (an optional sign, then digits)
// within the range of a 32-bit signed int.
bool parseInt32(const std::string& text, int32_t* value) {
    if (text.empty() || !(text[0] == '+' || text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    *value = static_cast<int32_t>(parsed);
    return true;
}

// A positive frame rate: a decimal number, or a fraction N/D as FFmpeg's
// tools print them (30000/1001), read as the library reads it.
bool parseFrameRate(const std::string& text, double* value) {
    const std::optional<double> rate = nrvq::parseFrameRate(text);
    if (!rate) {
        return false;
    }
    *value = *rate;
    return true;
}

}  // namespace

std::string usageText(const std::string& program) {
    return "Usage : " + program +
           " nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
           ", where [***] is optional parameter.\n\n";
}

ParseResult parseCommandLine(int argc, const char* const* argv) {
    ParseResult result;
    Options& o = result.options;

    CLI::App app("nrvq: no-reference video quality indicators, one row per frame.\n"
                 "  nrvq FILE WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame] [options]   raw planar YUV\n"
                 "  nrvq FILE.y4m [options]                                                YUV4MPEG2\n"
                 "  nrvq FILE.mp4 [options]           MP4, Matroska, AVI, MPEG-TS and other containers\n"
                 "FILE - reads standard input (a pipe: ffmpeg -i IN -f yuv4mpegpipe - | nrvq -).",
                 "nrvq");
    app.set_help_flag();
    app.allow_extras(false);
    std::vector<std::string> positionals;
    std::string fps;
    std::string frames;
    std::string start;
    std::string simd;
    std::string stream;
    bool help = false;
    app.add_option("positionals", positionals, "FILE WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]")
        ->allow_extra_args();
    app.add_flag("-h,--help", help, "Print this help and exit");
    app.add_flag("--version", o.version, "Print the version and exit");
    app.add_option("--fps", fps, "Frame rate (e.g. 25 or 30000/1001)");
    app.add_option("--frames", frames, "Number of frames to examine");
    app.add_option("--start", start, "First frame to examine, counted from 0");
    app.add_option("--stream", stream,
                   "Video stream of a container file, counted from 0 over all its streams (default: the first "
                   "video stream)");
    app.add_option("--pix-fmt", o.pixFmt,
                   "Layout of raw input: yuv420p (default), yuv422p, yuv444p, gray, yuv420p10le, yuv422p10le, "
                   "yuv444p10le, gray10le");
    app.add_option("--threads", o.threads, "Threads (default: one per core; 1: everything in order)");
    app.add_flag("--reference", o.reference, "Run the literal versions of the indicators");
    app.add_option("--simd", simd, "Instruction set of the fast kernels: scalar, sse4, avx2, avx512, best");
    app.add_option("--log", o.logPath, "Path of the tab-separated results log (default metricsResultsCSV.csv)");
    app.add_flag("--no-log", o.noLog, "Write no results log");
    app.add_option("--json", o.jsonPath, "Write every value, statistics and events as JSON to PATH (- for stdout)");
    app.add_option("--csv", o.csvPath, "Write one CSV row per frame to PATH (- for stdout)");
    app.add_option("--report", o.reportPath, "Write an HTML report with a chart per indicator to PATH");
    app.add_flag("--summary", o.summary, "Print pooled statistics and event spans after the run");
    app.add_flag("--quiet", o.quiet, "No start-up lines, rows or timing report on the console");
    app.add_flag("--progress", o.progress, "Show a progress line on a terminal even when the rows go there");

    // The parser would take a negative number for an option's name: such
    // arguments pass through it marked, and lose the mark afterwards.
    const std::string mark = "\x01";
    const auto unmark = [&mark](std::string& text) {
        if (text.rfind(mark, 0) == 0) {
            text.erase(0, mark.size());
        }
    };
    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) {
        std::string arg = argv[i];
        if (arg.size() >= 2 && arg[0] == '-' && ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.')) {
            arg.insert(0, mark);
        }
        args.push_back(std::move(arg));
    }
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        result.status = ParseResult::Invalid;
        result.message = e.what();
        return result;
    }
    for (std::string* text : {&fps, &frames, &start, &simd, &stream, &o.logPath, &o.pixFmt}) {
        unmark(*text);
    }
    for (std::string& text : positionals) {
        unmark(text);
    }
    if (help) {
        result.status = ParseResult::Help;
        result.help = app.help();
        return result;
    }
    if (o.version) {
        result.status = ParseResult::Version;
        return result;
    }

    o.positionals = positionals.size();
    if (!positionals.empty()) {
        o.input = positionals[0];
    }
    // A file alone may say its own size (YUV4MPEG2); the run finds out.
    if (positionals.empty() || positionals.size() == 2) {
        result.status = ParseResult::NotEnough;
        return result;
    }
    const auto reject = [&result](const char* name, const std::string& text, const char* problem) {
        result.status = ParseResult::Invalid;
        result.message = std::string("Invalid ") + name + " \"" + text + "\": " + problem;
        return result;
    };
    int32_t value = 0;
    if (positionals.size() >= 3) {
        if (!parseInt32(positionals[1], &value) || value <= 0) {
            return reject("WIDTH", positionals[1], "expected a positive whole number");
        }
        o.width = value;
        if (!parseInt32(positionals[2], &value) || value <= 0) {
            return reject("HEIGHT", positionals[2], "expected a positive whole number");
        }
        o.height = value;
        if (!frameSizeFits(*o.width, *o.height)) {
            return reject("HEIGHT", positionals[2], "a frame of WIDTH x HEIGHT is too large (over 2^31 - 1 bytes)");
        }
    }
    double rate = 0;
    if (positionals.size() >= 4) {
        if (!parseFrameRate(positionals[3], &rate)) {
            return reject("FPS", positionals[3], "expected a positive finite number");
        }
        o.fps = rate;
    }
    if (positionals.size() >= 5) {
        if (!parseInt32(positionals[4], &value)) {
            return reject("NumberOfFrames", positionals[4], "expected a whole number");
        }
        o.frames = value;
    }
    if (positionals.size() >= 6) {
        if (!parseInt32(positionals[5], &value) || value < 0) {
            return reject("startFrame", positionals[5], "expected a whole number that is not negative");
        }
        o.start = value;
    }
    // Positionals past the sixth are ignored. Options override positionals.
    if (!fps.empty()) {
        if (!parseFrameRate(fps, &rate)) {
            return reject("--fps", fps, "expected a positive finite number or a fraction N/D");
        }
        o.fps = rate;
    }
    if (!frames.empty()) {
        if (!parseInt32(frames, &value)) {
            return reject("--frames", frames, "expected a whole number");
        }
        o.frames = value;
    }
    if (!start.empty()) {
        if (!parseInt32(start, &value) || value < 0) {
            return reject("--start", start, "expected a whole number that is not negative");
        }
        o.start = value;
    }
    if (!stream.empty()) {
        if (!parseInt32(stream, &value) || value < 0) {
            return reject("--stream", stream, "expected a whole number that is not negative");
        }
        o.stream = value;
    }
    if (o.threads > 256) {
        return reject("--threads", std::to_string(o.threads), "expected at most 256");
    }
    if (!simd.empty()) {
        const auto level = kernels::parseSimdLevel(simd);
        if (!level) {
            return reject("--simd", simd, "expected scalar, sse4, avx2, avx512 or best");
        }
        o.simd = *level;
    }
    if (o.jsonPath == "-" && o.csvPath == "-") {
        return reject("--csv", o.csvPath, "standard output already takes the JSON output");
    }
    if (o.reportPath == "-") {
        return reject("--report", o.reportPath, "expected a file path");
    }
    if (!o.pixFmt.empty() && findLayout(o.pixFmt) == nullptr) {
        return reject("--pix-fmt", o.pixFmt, ("expected one of " + layoutNames()).c_str());
    }
    if (o.logPath.empty()) {
        return reject("--log", o.logPath, "expected a path");
    }
    return result;
}

}  // namespace nrvq::cli
