#include "cli/options.h"

#include "engine/rules.h"
#include "io/input.h"
#include "io/layout.h"
#include "nrvq/nrvq.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdlib>
#include <tuple>

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

// A frame rate from kMinFrameRate to kMaxFrameRate: a decimal number, or a
// fraction N/D as FFmpeg's tools print them (30000/1001), read as the
// library reads it.
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
    static const char* const kRateLimit = "expected a decimal number or a fraction N/D from 0.001 to 100000";
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
    std::string threads;
    app.add_option("--threads", threads,
                   "Threads (default: one per core; 1: everything in order; at most " + std::to_string(kMaxThreads) +
                       ")");
    app.add_flag("--reference", o.reference, "Run the literal versions of the indicators");
    app.add_option("--simd", simd, "Instruction set of the fast kernels: " + kernels::simdLevelNames(", "));
    app.add_option("--log", o.logPath, "Path of the tab-separated results log (default metricsResultsCSV.csv)");
    app.add_flag("--no-log", o.noLog, "Write no results log");
    app.add_option("--json", o.jsonPath, "Write every value, statistics and events as JSON to PATH (- for stdout)");
    app.add_option("--csv", o.csvPath, "Write one CSV row per frame to PATH (- for stdout)");
    app.add_option("--report", o.reportPath, "Write an HTML report with a chart per indicator to PATH");
    app.add_option("--compare", o.compare,
                   "Draw the charts of another input beside the main one's in the --report, aligned in time "
                   "(encodes of one source, say); analysed with the same options, a raw one with the main "
                   "input's size, rate and layout; repeatable, up to " + std::to_string(kMaxCompared))
        ->allow_extra_args(false);
    app.add_flag("--summary", o.summary,
                 "Print pooled statistics, blackout and freezing spans and the events after the run");
    app.add_flag("--quiet", o.quiet, "No start-up lines, rows or timing report on the console");
    app.add_flag("--progress", o.progress, "Show a progress line on a terminal even when the rows go there");
    std::vector<std::string> rules;
    std::string rulesFile;
    std::string failOn;
    app.add_option("--events", o.eventsPath, "Write the events as CSV to PATH (- for stdout)");
    app.add_option("--rule", rules,
                   "Add an event rule 'INDICATOR OP VALUE [for DURATION] [: SEVERITY]' (OP < <= > >=, DURATION "
                   "e.g. 2s, 500ms, 12f, SEVERITY info, warning or fatal); it replaces the default of the same "
                   "indicator and direction")
        ->allow_extra_args(false);
    app.add_option("--rules", rulesFile, "Read event rules from a TOML file ([[rule]] tables or rules = [...])");
    app.add_option("--fail-on", failOn,
                   "Make events of these kinds fatal: indicator keys (KEY[,KEY...]), any (every indicator), or "
                   "warning or info (every rule of that severity); a run in which a fatal event opened exits "
                   "with status 3 after writing everything");
    std::string window;
    std::string listen;
    std::vector<std::string> inputOptions;
    app.add_option("--jsonl", o.jsonlPath,
                   "Write a JSON line per frame, per event as it opens and closes, and per --window, flushed as "
                   "they come, to PATH (- for stdout)");
    app.add_option("--window", window, "Span of the rolling statistics of --jsonl and --listen (e.g. 10s, 500ms; "
                                       "default 10s)");
    app.add_option("--listen", listen,
                   "Serve /metrics (Prometheus text format) and /healthz on HOST:PORT (HOST defaults to 127.0.0.1)");
    app.add_option("--input-option", inputOptions,
                   "Option of a network input's demuxer or protocol, KEY=VALUE (e.g. timeout=5000000); repeatable")
        ->allow_extra_args(false);
    app.add_flag("--once", o.once, "End the run when a network stream ends or fails instead of opening it again");
    std::string only;
    std::string skip;
    app.add_option("--only", only,
                   "Compute only these indicators (KEY[,KEY...]; freezing also computes blackout and temporal "
                   "activity) for the JSON, CSV, summary, report and events; the console rows, the timing "
                   "report and the log keep their fixed layout and are off unless every indicator is computed");
    app.add_option("--skip", skip, "Compute every indicator but these (KEY[,KEY...]); as --only otherwise");
    app.footer("Events (default rules; a rule opens an event once its condition has held for the duration):\n" +
               defaultRulesHelp() +
               "Exit status: 0 complete, 3 complete with a fatal event, 130/143 stopped by SIGINT/SIGTERM, 141 "
               "standard output closed, 255 stopped early by an error.");

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
    } catch (const CLI::ExtrasError& e) {
        // "The following argument was not expected: --x": the argument named
        // as every other rejected one is.
        const std::string what = e.what();
        const size_t colon = what.find(": ");
        std::string names = colon == std::string::npos ? what : what.substr(colon + 2);
        unmark(names);
        result.status = ParseResult::Invalid;
        result.message = "Invalid argument \"" + names + "\": expected an option that --help lists";
        return result;
    } catch (const CLI::ParseError& e) {
        result.status = ParseResult::Invalid;
        result.message = "Invalid argument: " + std::string(e.what());
        return result;
    }
    for (std::string* text : {&fps, &frames, &start, &simd, &stream, &threads, &o.logPath, &o.pixFmt, &o.jsonPath,
                              &o.csvPath, &o.reportPath, &o.eventsPath, &o.jsonlPath, &window, &listen}) {
        unmark(*text);
    }
    for (std::string& text : rules) {
        unmark(text);
    }
    for (std::string& text : o.compare) {
        unmark(text);
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
    const auto reject = [&result](const char* name, const std::string& text, const std::string& problem) {
        result.status = ParseResult::Invalid;
        result.message = std::string("Invalid ") + name + " \"" + text + "\": " + problem;
        return result;
    };
    int32_t value = 0;
    if (positionals.size() > 6) {
        return reject("argument", positionals[6],
                      "expected at most six positionals: FILE WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]");
    }
    if (o.input.empty()) {
        return reject("FILE", o.input, "expected a path, or - for standard input");
    }
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
            return reject("FPS", positionals[3], kRateLimit);
        }
        o.fps = rate;
    }
    if (positionals.size() >= 5) {
        if (!parseInt32(positionals[4], &value)) {
            return reject("NumberOfFrames", positionals[4], "expected a whole number from -2147483648 to 2147483647");
        }
        o.frames = value;
    }
    if (positionals.size() >= 6) {
        if (!parseInt32(positionals[5], &value) || value < 0) {
            return reject("startFrame", positionals[5], "expected a whole number from 0 to 2147483647");
        }
        o.start = value;
    }
    // Options override positionals.
    if (!fps.empty()) {
        if (!parseFrameRate(fps, &rate)) {
            return reject("--fps", fps, kRateLimit);
        }
        o.fps = rate;
    }
    if (!frames.empty()) {
        if (!parseInt32(frames, &value)) {
            return reject("--frames", frames, "expected a whole number from -2147483648 to 2147483647");
        }
        o.frames = value;
    }
    if (!start.empty()) {
        if (!parseInt32(start, &value) || value < 0) {
            return reject("--start", start, "expected a whole number from 0 to 2147483647");
        }
        o.start = value;
    }
    if (!stream.empty()) {
        if (!parseInt32(stream, &value) || value < 0) {
            return reject("--stream", stream, "expected a whole number from 0 to 2147483647");
        }
        o.stream = value;
    }
    if (app.count("--threads") > 0) {
        if (!parseInt32(threads, &value) || value < 0 || value > static_cast<int64_t>(kMaxThreads)) {
            return reject("--threads", threads,
                          "expected a whole number from 0 (one per core) to " + std::to_string(kMaxThreads));
        }
        o.threads = static_cast<unsigned>(value);
    }
    if (app.count("--simd") > 0 && o.reference) {
        return reject("--simd", simd, "--reference runs the literal indicators, which take no instruction set");
    }
    if (!simd.empty()) {
        const auto level = kernels::parseSimdLevel(simd);
        if (!level) {
            return reject("--simd", simd, "expected " + kernels::simdLevelNames(" or "));
        }
        o.simd = *level;
    }
    o.jsonGiven = app.count("--json") > 0;
    o.csvGiven = app.count("--csv") > 0;
    o.reportGiven = app.count("--report") > 0;
    o.eventsGiven = app.count("--events") > 0;
    o.jsonlGiven = app.count("--jsonl") > 0;
    if (!window.empty()) {
        MinimumDuration duration;
        try {
            duration = parseDuration(window);
        } catch (const std::invalid_argument&) {
            duration.inFrames = true;
        }
        if (duration.inFrames || !(duration.amount >= 0.001) || duration.amount > 86400) {
            return reject("--window", window, "expected a duration such as 10s or 500ms, from 1ms to 86400s");
        }
        o.windowSeconds = duration.amount;
    }
    if (!listen.empty()) {
        const size_t colon = listen.rfind(':');
        if (colon == std::string::npos || !parseInt32(listen.substr(colon + 1), &value) || value < 1 ||
            value > 65535) {
            return reject("--listen", listen, "expected HOST:PORT or :PORT, a port from 1 to 65535");
        }
        o.listenHost = colon == 0 ? "127.0.0.1" : listen.substr(0, colon);
        if (o.listenHost.size() > 2 && o.listenHost.front() == '[' && o.listenHost.back() == ']') {
            o.listenHost = o.listenHost.substr(1, o.listenHost.size() - 2);
        }
        o.listenPort = value;
    }
    for (const std::string& text : inputOptions) {
        const size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
            return reject("--input-option", text, "expected KEY=VALUE");
        }
        o.inputOptions.emplace_back(text.substr(0, equals), text.substr(equals + 1));
    }
    for (const auto& [name, text, given] : {std::tuple{"--json", &o.jsonPath, o.jsonGiven},
                                            std::tuple{"--csv", &o.csvPath, o.csvGiven},
                                            std::tuple{"--report", &o.reportPath, o.reportGiven},
                                            std::tuple{"--events", &o.eventsPath, o.eventsGiven},
                                            std::tuple{"--jsonl", &o.jsonlPath, o.jsonlGiven},
                                            std::tuple{"--log", &o.logPath, true}}) {
        if (given && text->empty()) {
            return reject(name, *text, "expected a path");
        }
    }
    try {
        o.indicators = selectedColumns(only, skip);
        o.rules = runRules(rules, rulesFile, failOn, o.indicators);
    } catch (const std::invalid_argument& e) {
        result.status = ParseResult::Invalid;
        result.message = e.what();
        return result;
    }
    if (!o.indicators.all() && app.count("--log") > 0) {
        return reject("--log", o.logPath, "the log holds every indicator; it is off with --only or --skip");
    }
    if (o.noLog && app.count("--log") > 0) {
        return reject("--log", o.logPath, "--no-log writes no log; give one of them");
    }
    if (o.reportPath == "-" || o.logPath == "-") {
        return reject(o.reportPath == "-" ? "--report" : "--log", "-", "expected a file path, not standard output");
    }
    for (const std::string& path : o.compare) {
        if (!o.reportGiven) {
            return reject("--compare", path, "the comparison is drawn in the report; give --report too");
        }
        if (path.empty() || path == "-") {
            return reject("--compare", path, "expected a file path or URL, not standard input");
        }
    }
    if (o.compare.size() > kMaxCompared) {
        return reject("--compare", o.compare[kMaxCompared],
                      "expected at most " + std::to_string(kMaxCompared) + " inputs to compare");
    }
    // What no reader can take (an unknown --pix-fmt), refused as the
    // library refuses it; the checks above already refused the rest.
    if (const std::optional<std::string> problem = requestProblem(makeInputRequest(o.input, o, kCommandLineNames))) {
        result.status = ParseResult::Invalid;
        result.message = *problem;
    }
    return result;
}

}  // namespace nrvq::cli
