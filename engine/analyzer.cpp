#include "engine/analyzer.h"

#include <time.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "kernels/frameSums.h"
#include "kernels/kernels.h"


namespace nrvq {

namespace {

double clockSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Calls f, adding the calling thread's processor time to seconds.
template <typename F>
auto timed(double& seconds, F&& f) {
    const double before = threadSeconds();
    auto result = f();
    seconds += threadSeconds() - before;
    return result;
}

}  // namespace

unsigned resolveThreads(unsigned threads) {
    if (threads != 0) {
        // Every thread holds frames in flight; past this many no machine
        // gains, and memory would grow without bound.
        return threads < kMaxThreads ? threads : kMaxThreads;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

double threadSeconds() { return clockSeconds(CLOCK_THREAD_CPUTIME_ID); }
double processSeconds() { return clockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

// ---- FrameWorker ----------------------------------------------------------------

FrameWorker::FrameWorker(int32_t, int32_t, bool reference, uint32_t indicators)
    : reference_(reference), columns_(withDependencies(ColumnSet(indicators))) {}

namespace {

// The columns whose fast kernels take the results of the joint walk over a
// frame (kernels/frameSums.h), by result.
constexpr std::pair<Scratch::Shared, std::array<Column, 4>> kJointUsers[] = {
    {Scratch::Shared::frameSums, {kSpatialActivity, kBlockLoss, kBlur, kBlur}},
    {Scratch::Shared::blockStats, {kBlackout, kExposure, kContrast, kNoise}},
    {Scratch::Shared::sliceMatches, {kSlice, kSlice, kSlice, kSlice}},
    {Scratch::Shared::blockinessRows, {kBlockiness, kBlockiness, kBlockiness, kBlockiness}},
    {Scratch::Shared::combedBlocks, {kInterlace, kInterlace, kInterlace, kInterlace}},
    {Scratch::Shared::gridEnergies, {kBlockLoss, kBlockLoss, kBlockLoss, kBlockLoss}},
};

}  // namespace

void FrameWorker::analyze(const Image* frame, FrameRecord& record, Timings& timings, const Image* previous,
                          TemporalInputs* inputs) {
    const ScratchScope scope(&scratch_);
    scratch_.beginFrame();
    // One clock read between two indicators ends the one and starts the
    // next: half the system calls of timing each on its own.
    double mark = threadSeconds();
    record.computed = columns_;
    // The joint walk runs before the indicators that take its results, and
    // its time is shared evenly among them: charged to whichever asked
    // first, it would make that one look as costly as all of them.
    if (inputs != nullptr) {
        inputs->walked = false;
    }
    if (!reference_ && scratch_.joint(Scratch::Shared::frameSums)) {
        // Temporal activity and flickering's changed blocks, when both are
        // computed, come from one walk over the two frames (see
        // runPairSteps): the frame's walk takes it along.
        kernels::PairChanges pair;
        const bool withPair = previous != nullptr && inputs != nullptr && columns_[kTemporalActivity] &&
                              columns_[kFlickering];
        if (withPair) {
            pair.previous = previous;
            pair.changed = inputs->changed.data();
        }
        kernels::frameSums(frame, scratch_, withPair ? &pair : nullptr);
        ColumnSet users;
        if (pair.done) {
            inputs->activity = kernels::temporalActivityOf(pair.squares, frame->w * frame->h);
            inputs->walked = true;
            users[kTemporalActivity] = true;
            users[kFlickering] = true;
        }
        for (const auto& [result, columns] : kJointUsers) {
            if (scratch_.joint(result)) {
                for (const Column c : columns) {
                    users[c] = columns_[c];
                }
            }
        }
        const double now = threadSeconds();
        if (users.any()) {
            const double share = (now - mark) / static_cast<double>(users.count());
            for (size_t c = 0; c < kIndicatorCount; ++c) {
                timings.seconds[c] += users[c] ? share : 0.0;
            }
        }
        mark = now;
    }
    for (const Column c : callOrder()) {
        const IndicatorInfo& row = kIndicators[c];
        if (row.kind == IndicatorKind::SingleFrame && columns_[c]) {
            record.values[c] = (reference_ ? row.literal : row.fast).frame(frame, scratch_);
            const double now = threadSeconds();
            timings.seconds[c] += now - mark;
            mark = now;
        }
    }
}

TemporalInputs::TemporalInputs(int32_t width, int32_t height)
    : changed(static_cast<size_t>(width > 0 ? width / 8 : 0) * static_cast<size_t>(height > 0 ? height / 8 : 0)) {}

namespace {

// The pair steps of the temporal columns among columns, in call order.
void runPairSteps(const Image* frame, const Image* previous, const ColumnSet& columns, bool reference,
                  TemporalInputs& inputs, Scratch& scratch, Timings& timings) {
    // Temporal activity and flickering's changed blocks come from one walk
    // over the two frames when both are selected, its time shared evenly.
    const bool joint = !reference && columns[kTemporalActivity] && columns[kFlickering];
    // Taken once: the flag is the frame's that the worker's walk took along.
    const bool walked = std::exchange(inputs.walked, false);
    if (joint && !walked) {
        double seconds = 0.0;
        inputs.activity =
            timed(seconds, [&] { return kernels::changedBlocksAndActivity(frame, previous, inputs.changed.data()); });
        timings.seconds[kTemporalActivity] += seconds / 2;
        timings.seconds[kFlickering] += seconds / 2;
    }
    for (const Column c : callOrder()) {
        const Implementation& version = reference ? kIndicators[c].literal : kIndicators[c].fast;
        if (version.pair != nullptr && columns[c] && !(joint && (c == kTemporalActivity || c == kFlickering))) {
            timed(timings.seconds[c], [&] {
                version.pair(frame, previous, inputs, scratch);
                return 0;
            });
        }
    }
    inputs.ready = true;
}

}  // namespace

void FrameWorker::analyzeTemporal(const Image* frame, const Image* previous, TemporalInputs& inputs,
                                  Timings& timings) {
    inputs.ready = false;
    if (previous != nullptr) {
        const ScratchScope scope(&scratch_);
        runPairSteps(frame, previous, columns_, reference_, inputs, scratch_, timings);
    }
}

// ---- TemporalState --------------------------------------------------------------

TemporalMemory::TemporalMemory(int32_t width, int32_t height, double rate)
    : fps(rate),
      transitionCounts(callocImage(static_cast<uint64_t>(width) / 8, static_cast<uint64_t>(height) / 8)),
      blockStates(callocImage(static_cast<uint64_t>(width) / 8, static_cast<uint64_t>(height) / 8)) {}

TemporalState::TemporalState(int32_t width, int32_t height, double fps, bool reference, uint32_t indicators)
    : reference_(reference),
      columns_(withDependencies(ColumnSet(indicators))),
      inputs_(width, height),
      memory_(width, height, fps) {}

void TemporalState::analyze(const Image* frame, const Image* previous, FrameRecord& record, Timings& timings,
                            const TemporalInputs* inputs) {
    record.hasPrevious = previous != nullptr;
    if (previous == nullptr) {
        for (size_t c = 0; c < kIndicatorCount; ++c) {
            if (kIndicators[c].kind != IndicatorKind::SingleFrame) {
                record.values[c] = 0.0;
            }
        }
        return;
    }
    const ScratchScope scope(&scratch_);
    record.computed = columns_;
    if (inputs == nullptr || !inputs->ready) {
        runPairSteps(frame, previous, columns_, reference_, inputs_, scratch_, timings);
        inputs = &inputs_;
    }
    const TemporalFrame at{frame, previous, *inputs, memory_, record};
    for (const Column c : callOrder()) {
        const IndicatorInfo& row = kIndicators[c];
        if (row.kind != IndicatorKind::SingleFrame) {
            const Implementation& version = reference_ ? row.literal : row.fast;
            record.values[c] = columns_[c] ? timed(timings.seconds[c], [&] { return version.ordered(at); }) : 0.0;
        }
    }
}

// ---- Analyzer -------------------------------------------------------------------

Analyzer::Analyzer(int32_t width, int32_t height, double fps, const AnalyzerOptions& options)
    : width_(width),
      height_(height),
      fps_(fps),
      worker_(width, height, options.reference, options.indicators),
      temporal_(width, height, fps, options.reference, options.indicators),
      current_(static_cast<uint64_t>(width), static_cast<uint64_t>(height)),
      previous_(static_cast<uint64_t>(width), static_cast<uint64_t>(height)) {
    if (width < 0 || height < 0) {
        throw std::invalid_argument("frame size must not be negative");
    }
}

const FrameRecord& Analyzer::push(const uint8_t* luma, ptrdiff_t stride) {
    const size_t w = static_cast<size_t>(width_);
    for (int32_t y = 0; y < height_; ++y) {
        std::memcpy(current_.data() + static_cast<size_t>(y) * w, luma + y * stride, w);
    }
    record_.index = pushed_;
    record_.seconds = frameTime(std::nan(""), pushed_, fps_);
    Timings frameTimings;
    const Image current = current_.image();
    const Image previous = previous_.image();
    worker_.analyze(&current, record_, frameTimings);
    temporal_.analyze(&current, pushed_ > 0 ? &previous : nullptr, record_, frameTimings);
    timings_ += frameTimings;
    std::swap(current_, previous_);
    ++pushed_;
    return record_;
}

}  // namespace nrvq
