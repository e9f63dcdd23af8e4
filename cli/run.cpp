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
#include "engine/analyzer.h"
#include "io/input.h"
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
    std::unique_ptr<FrameSource> source;
    try {
        source = openInput(request);
    } catch (const InputError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
    const SourceInfo& info = source->info();

    std::printf("Video file %s opened successfully!\n\n", o.input.c_str());
    std::printf("Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %d, Start Frame = %d\n\n", info.width,
                info.height, info.fps, static_cast<int>(info.frameCount), static_cast<int>(info.startFrame));
    std::printf("%s\n", consoleHeader().c_str());
    std::fflush(stdout);

    std::vector<std::unique_ptr<FrameSink>> sinks;
    sinks.push_back(std::make_unique<ConsoleRows>(stdout));
    if (!o.noLog) {
        std::FILE* log = std::fopen(o.logPath.c_str(), "w");
        if (log == nullptr) {
            std::perror("Cannot create the log file");
        } else {
            sinks.push_back(std::make_unique<TabLog>(log, o.logPath));
        }
    }
    for (auto& sink : sinks) {
        sink->begin(info);
    }

    AnalyzerOptions analysis;
    analysis.threads = o.threads;
    analysis.reference = o.reference;
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

    // A run cut short by the end of the file or a signal reports per
    // examined frame.
    const int64_t divisor =
        info.frameCount > outcome.examined || outcome.stopped ? outcome.examined : info.frameCount;
    printTimingReport(stdout, outcome.timings, outcome.processSeconds, static_cast<double>(divisor));
    RunSummary summary;
    summary.examined = outcome.examined;
    summary.timings = outcome.timings;
    summary.processSeconds = outcome.processSeconds;
    for (auto& sink : sinks) {
        sink->finish(summary);
    }
    source.reset();
    std::puts("\nFile stream closed\n");
    return stopSignal != 0 ? 128 + stopSignal : 0;
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
