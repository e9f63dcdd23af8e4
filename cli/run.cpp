#include "cli/run.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <signal.h>

#include "cli/options.h"
#include "cli/outputs.h"
#include "engine/analyzer.h"
#include "io/input.h"
#include "io/log_file.h"
#include "io/sink.h"
#include "io/text_output.h"
#include "kernels/dispatch.h"

namespace nrvq::cli {

namespace {

// Set by SIGINT and SIGTERM: the run stops after the frame in progress.
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
    stopRequested.store(true);
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads resume after the signal, so the frame in progress completes.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed standard output shows as a failed write (EPIPE), which ends
    // the run with whole rows in the log.
    std::signal(SIGPIPE, SIG_IGN);
}

int run(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "nrvq";
    const ParseResult parsed = parseCommandLine(argc, argv);
    switch (parsed.status) {
        case ParseResult::NotEnough:
            std::puts("Not enough parameters\n");
            std::fputs(usageText(program).c_str(), stdout);
            return -1;
        case ParseResult::Invalid:
            std::fprintf(stderr, "%s\n", parsed.message.c_str());
            std::fputs(usageText(program).c_str(), stdout);
            return -1;
        case ParseResult::Help:
            std::fputs(parsed.help.c_str(), stdout);
            return 0;
        case ParseResult::Version:
            std::printf("nrvq %s\n", kVersion);
            return 0;
        case ParseResult::Ok:
            break;
    }
    const Options& o = parsed.options;
    if (!kernels::setSimdLevel(o.simd)) {
        std::fprintf(stderr, "Invalid --simd \"%s\": this processor does not run that instruction set\n",
                     std::string(kernels::simdLevelName(o.simd)).c_str());
        return -1;
    }

    InputRequest request;
    request.path = o.input;
    request.width = o.width;
    request.height = o.height;
    request.fps = o.fps;
    request.start = o.start;
    request.frames = o.frames;
    request.pixFmt = o.pixFmt;
    request.stream = o.stream;
    std::unique_ptr<FrameSource> source;
    try {
        source = openInput(request);
    } catch (const InputError& e) {
        // A path alone that is not a self-describing input: as too few arguments.
        if (!o.width && (e.kind() == InputError::NeedsSize || e.kind() == InputError::CannotOpen)) {
            std::puts("Not enough parameters\n");
            std::fputs(usageText(program).c_str(), stdout);
        } else {
            std::fprintf(stderr, "%s\n", e.what());
        }
        return -1;
    }
    const SourceInfo& info = source->info();
    // The log is emptied only now that the input is known to be usable.
    std::FILE* log = nullptr;
    const bool noLog = o.noLog || !o.indicators.all();  // the log holds every indicator
    const int logError = noLog || (log = openResultsLog(o.logPath, o.input)) != nullptr ? 0 : errno;
    std::fputs(openingNotes(*source).c_str(), stderr);

    const bool console = consoleShown(o);
    if (console) {
        std::printf("Video file %s opened successfully!\n\n", o.input.c_str());
        // The count as given (0 or less examines none), or as the input says.
        const std::string count = o.frames ? std::to_string(*o.frames)
                                  : info.frameCount >= 0 ? std::to_string(info.frameCount) : "all";
        std::printf("Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %s, Start Frame = %d\n\n",
                    info.width, info.height, info.fps, count.c_str(), static_cast<int>(info.startFrame));
        std::printf("%s\n", consoleHeader().c_str());
        std::fflush(stdout);
    }

    std::vector<std::unique_ptr<FrameSink>> sinks;
    if (console) {
        sinks.push_back(std::make_unique<ConsoleRows>(stdout));
    }
    if (log != nullptr) {
        sinks.push_back(std::make_unique<TabLog>(log, o.logPath));
    } else if (!noLog) {
        errno = logError;
        std::perror("Cannot create the log file");
    }
    ExtraOutputs extras(o, sinks);
    for (auto& sink : sinks) {
        sink->begin(info);
    }

    AnalyzerOptions analysis;
    analysis.threads = o.threads;
    analysis.reference = o.reference;
    analysis.indicators = static_cast<uint32_t>(o.indicators.to_ulong());
    installSignalHandlers();
    const RunOutcome outcome = runAnalysis(
        *source, analysis,
        [&sinks](const FrameRecord& record) {
            // The console row goes first: the log never holds a row that
            // could not be printed.
            for (auto& sink : sinks) {
                sink->frame(record);
            }
            return true;
        },
        &stopRequested);
    extras.runEnded();

    if (outcome.end.status == ReadStatus::Error && !outcome.end.message.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", outcome.end.message.c_str());
        return -1;
    }
    if (outcome.end.status == ReadStatus::Error) {
        const int64_t frame = info.startFrame + outcome.examined;
        std::printf("Some error occurred when reading the %d frame\n", static_cast<int>(frame));
        std::printf("Byte read = %d, Frame size = %d\n\n", static_cast<int>(outcome.end.bytesRead),
                    info.width * info.height);
        std::printf("Error code: %d \n", outcome.end.error);
        std::printf("Error description: %s \n", std::strerror(outcome.end.error));
        return -1;
    }
    if (const std::string notes = endOfInputNotes(*source); !notes.empty()) {
        std::fflush(stdout);
        std::fputs(notes.c_str(), stderr);
    }

    // A run cut short by the end of the input or a signal reports per
    // examined frame.
    const int64_t divisor = info.frameCount < 0 || info.frameCount > outcome.examined || outcome.stopped
                                ? outcome.examined
                                : info.frameCount;
    if (console) {
        printTimingReport(stdout, outcome.timings, outcome.processSeconds, static_cast<double>(divisor));
    }
    RunSummary summary;
    summary.examined = outcome.examined;
    summary.timings = outcome.timings;
    summary.processSeconds = outcome.processSeconds;
    for (auto& sink : sinks) {
        sink->finish(summary);
    }
    source.reset();
    if (console) {
        std::puts("\nFile stream closed\n");
    }
    extras.printSummary();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int error = errno;
        throw OutputError(std::string("Cannot write to standard output: ") + std::strerror(error), error);
    }
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return extras.fatalEvent() ? 3 : 0;
}

}  // namespace

int runNrvq(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "Out of memory: the images for this frame size cannot be allocated\n");
        return -1;
    } catch (const OutputError& e) {
        if (e.error() == EPIPE) {
            // The reader of the rows went away: stop quietly, as a program
            // ended by the broken pipe would.
            return 128 + SIGPIPE;
        }
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
}

}  // namespace nrvq::cli
