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

#include "cli/compare.h"
#include "cli/options.h"
#include "cli/outputs.h"
#include "engine/analyzer.h"
#include "io/input.h"
#include "io/interrupt.h"
#include "io/jsonl_output.h"
#include "io/live_source.h"
#include "io/live_stats.h"
#include "io/sink.h"
#include "kernels/dispatch.h"

namespace nrvq::cli {

namespace {

// Set by SIGINT and SIGTERM: the run stops after the frame in progress.
std::atomic<bool> stopRequested{false};
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
    stopRequested.store(true);
    // A read waiting on a stalled pipe ends too.
    interruptReads();
}

void installSignalHandlers() {
    enableReadInterrupts();
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads of a file resume after the signal, so the frame in progress
    // completes; a read that waits on a pipe ends through interruptReads().
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed standard output shows as a failed write (EPIPE), which ends
    // the run with whole rows in the log.
    std::signal(SIGPIPE, SIG_IGN);
}

int usageError(const std::string& program, const std::string& message) {
    std::fflush(stdout);
    std::fputs(message.c_str(), stderr);
    std::fputs(usageText(program).c_str(), stderr);
    return -1;
}

// The sinks, fed frame by frame. A reader of standard output that went
// away (EPIPE) stops the run quietly: the sink that met it writes nothing
// more, the others still finish with the frames measured.
class Feed {
public:
    explicit Feed(std::vector<std::unique_ptr<FrameSink>>& sinks) : sinks_(sinks), closed_(sinks.size()) {}

    bool frame(const FrameRecord& record) {
        for (size_t i = 0; i < sinks_.size(); ++i) {
            if (!closed_[i] && !guarded(i, [&] { sinks_[i]->frame(record); })) {
                // The row goes no further: the log never holds a row that
                // could not be passed on.
                interruptReads();
                return false;
            }
        }
        return true;
    }

    void finish(const RunSummary& summary) {
        for (size_t i = 0; i < sinks_.size(); ++i) {
            if (!closed_[i]) {
                guarded(i, [&] { sinks_[i]->finish(summary); });
            }
        }
    }

    bool readerGone() const { return readerGone_; }

private:
    template <typename Call>
    bool guarded(size_t i, const Call& call) {
        try {
            call();
            return true;
        } catch (const OutputError& e) {
            // The run ends either way: a read waiting on a stalled input
            // must not hold it.
            interruptReads();
            if (e.error() != EPIPE) {
                throw;
            }
            closed_[i] = true;
            readerGone_ = true;
            return false;
        }
    }
    std::vector<std::unique_ptr<FrameSink>>& sinks_;
    std::vector<bool> closed_;
    bool readerGone_ = false;
};

// A live source's losses and returns of its signal: told to the outputs
// that publish them and on standard error.
void followSignal(FrameSource& source, Outputs& outputs) {
    auto* live = dynamic_cast<LiveSource*>(&source);
    if (live == nullptr) {
        return;
    }
    LiveStats* stats = outputs.stats();
    JsonlOutput* jsonl = outputs.jsonl();
    if (stats != nullptr) {
        stats->watch(live);
    }
    live->onSignalChange([stats, jsonl](const SignalChange& change) {
        if (stats != nullptr) {
            stats->signalChange(change);
        }
        if (jsonl != nullptr) {
            jsonl->signalChange(change);
        }
        if (change.lost) {
            std::fprintf(stderr, "Signal lost at %.3f s: %s; opening it again\n", change.time, change.reason.c_str());
        } else {
            std::fprintf(stderr, "Signal back at %.3f s after %.3f s\n", change.time, change.duration);
        }
    });
}

// A read that failed: what the reader said, or the frame, the bytes read and
// the system's error.
void reportReadFailure(const ReadResult& end, const SourceInfo& info, int64_t examined) {
    std::fflush(stdout);
    if (!end.message.empty()) {
        std::fprintf(stderr, "%s\n", end.message.c_str());
        return;
    }
    const int64_t frame = info.startFrame + examined;
    std::fprintf(stderr, "Some error occurred when reading the %d frame\n", static_cast<int>(frame));
    std::fprintf(stderr, "Byte read = %d, Frame size = %d\n\n", static_cast<int>(end.bytesRead),
                 info.width * info.height);
    std::fprintf(stderr, "Error code: %d \n", end.error);
    std::fprintf(stderr, "Error description: %s \n", std::strerror(end.error));
}

int run(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "nrvq";
    const ParseResult parsed = parseCommandLine(argc, argv);
    switch (parsed.status) {
        case ParseResult::NotEnough:
            return usageError(program, "Not enough parameters\n\n");
        case ParseResult::Invalid:
            return usageError(program, parsed.message + "\n");
        case ParseResult::Help:
            std::fputs(parsed.help.c_str(), stdout);
            return 0;
        case ParseResult::Version:
            std::printf("nrvq %s\n", std::string(version()).c_str());
            return 0;
        case ParseResult::Ok:
            break;
    }
    const Options& o = parsed.options;
    installSignalHandlers();
    if (!kernels::setSimdLevel(o.simd)) {
        std::fprintf(stderr, "Invalid --simd \"%s\": this processor does not run that instruction set\n",
                     std::string(kernels::simdLevelName(o.simd)).c_str());
        return -1;
    }

    InputRequest request = makeInputRequest(o.input, o, kCommandLineNames);
    request.inputOptions = o.inputOptions;
    request.once = o.once;
    std::unique_ptr<FrameSource> source;
    try {
        source = openInput(request);
    } catch (const InputError& e) {
        if (stopSignal != 0) {
            return 128 + stopSignal;  // stopped while the input's first bytes were awaited
        }
        // A path alone that is not a self-describing input: as too few arguments.
        if (!o.width && (e.kind() == InputError::NeedsSize || e.kind() == InputError::CannotOpen)) {
            return usageError(program, "Not enough parameters\n\n");
        }
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
    const SourceInfo info = source->info();  // outlives the source, closed before the end
    // The inputs of --compare, before any output is opened: one that fails
    // ends the run with every file as it was.
    ComparedInputs compared;
    if (!compared.analyse(o, &stopRequested)) {
        return stopSignal != 0 ? 128 + stopSignal : -1;
    }
    // Every output is checked, and only then created, now that the input is
    // known to be usable.
    std::unique_ptr<Outputs> outputs;
    try {
        outputs = std::make_unique<Outputs>(o);
    } catch (const OutputError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
    compared.addTo(outputs->report());
    std::fputs(openingNotes(*source).c_str(), stderr);
    // A live source's thread tells the outputs of its signal, and the
    // metrics endpoint reads its counters: it is closed before they go,
    // on every way out.
    struct SourceCloser {
        std::unique_ptr<FrameSource>& source;
        LiveStats* stats;
        void close() {
            if (stats != nullptr) {
                stats->watch(nullptr);
            }
            source.reset();
        }
        ~SourceCloser() { close(); }
    } closer{source, outputs->stats()};
    followSignal(*source, *outputs);

    Feed feed(outputs->sinks());
    for (auto& sink : outputs->sinks()) {
        sink->begin(info);
    }
    AnalyzerOptions analysis;
    analysis.threads = o.threads;
    analysis.reference = o.reference;
    analysis.indicators = static_cast<uint32_t>(o.indicators.to_ulong());
    const RunOutcome outcome = runAnalysis(
        *source, analysis, [&feed](const FrameRecord& record) { return feed.frame(record); }, &stopRequested);
    outputs->runEnded();

    // A read that a signal ended is a stop, not a failure.
    const bool readFailed = outcome.end.status == ReadStatus::Error && !(stopSignal != 0 && outcome.end.error == EINTR);
    // What was measured is kept, also when the input failed or the reader
    // of standard output went away.
    RunSummary summary;
    summary.examined = outcome.examined;
    summary.timings = outcome.timings;
    summary.processSeconds = outcome.processSeconds;
    summary.stopped = outcome.stopped;
    summary.complete = !readFailed && !feed.readerGone();
    if (summary.complete) {
        if (const std::string notes = endOfInputNotes(*source); !notes.empty()) {
            std::fflush(stdout);
            std::fputs(notes.c_str(), stderr);
        }
    }
    feed.finish(summary);
    outputs->commit();
    closer.close();
    if (readFailed) {
        reportReadFailure(outcome.end, info, outcome.examined);
        return -1;
    }
    if (feed.readerGone()) {
        return 128 + SIGPIPE;
    }
    outputs->close();
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return outputs->fatalEvent() ? 3 : 0;
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
            // The reader of standard output went away: stop quietly, as a
            // program ended by the broken pipe would.
            return 128 + SIGPIPE;
        }
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return -1;
    }
}

}  // namespace nrvq::cli
