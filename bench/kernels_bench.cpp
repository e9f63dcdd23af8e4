// Processor time of every indicator on full-HD textured frames: the literal
// version against the fast kernel at each instruction-set level this
// processor runs, and a whole frame of all fifteen through the engine.
// Reports milliseconds per frame and megapixels per second.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "engine/analyzer.h"
#include "kernels/blockStats.h"
#include "kernels/dispatch.h"
#include "kernels/frameSums.h"
#include "kernels/kernels.h"

namespace {

using nrvq::Scratch;
using nrvq::kernels::SimdLevel;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

struct Frames {
    clips::Plane currentPlane = clips::texture(kWidth, kHeight, 1);
    clips::Plane previousPlane = clips::texture(kWidth, kHeight, 0);
    Image current = makeImage(kWidth, kHeight, currentPlane.samples.data());
    Image previous = makeImage(kWidth, kHeight, previousPlane.samples.data());
};

Frames& frames() {
    static Frames shared;
    return shared;
}

// Processor time of the timed loop on the calling thread, for the
// milliseconds-per-frame counter.
class LoopClock {
public:
    LoopClock() : start_(nrvq::threadSeconds()) {}
    double seconds() const { return nrvq::threadSeconds() - start_; }

private:
    double start_;
};

void setCounters(benchmark::State& state, const LoopClock& clock) {
    constexpr double kMegapixels = static_cast<double>(kWidth) * kHeight * 1e-6;
    const double iterations = static_cast<double>(state.iterations());
    state.counters["MP/s"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["ms/frame"] = iterations > 0 ? clock.seconds() * 1e3 / iterations : 0.0;
}

// Registers name/literal and name/fast/<level> for every available level.
template <typename Literal, typename Fast>
void registerIndicator(const std::string& name, Literal literalFn, Fast fastFn) {
    benchmark::RegisterBenchmark((name + "/literal").c_str(), [literalFn](benchmark::State& state) {
        Frames& f = frames();
        const LoopClock clock;
        for (auto _ : state) {
            benchmark::DoNotOptimize(literalFn(f));
        }
        setCounters(state, clock);
    })->Unit(benchmark::kMillisecond);
    for (const SimdLevel level : nrvq::kernels::availableSimdLevels()) {
        const std::string levelName(nrvq::kernels::simdLevelName(level));
        benchmark::RegisterBenchmark((name + "/fast/" + levelName).c_str(), [fastFn, level](benchmark::State& state) {
            nrvq::kernels::setSimdLevel(level);
            Frames& f = frames();
            Scratch scratch;
            const LoopClock clock;
            for (auto _ : state) {
                benchmark::DoNotOptimize(fastFn(f, scratch));
            }
            setCounters(state, clock);
            nrvq::kernels::setSimdLevel(SimdLevel::best);
        })->Unit(benchmark::kMillisecond);
    }
}

// A temporal column's version on the two frames: the pair step, then the
// ordered step, on state carried from iteration to iteration.
struct TemporalRun {
    nrvq::TemporalInputs inputs{kWidth, kHeight};
    nrvq::TemporalMemory memory{kWidth, kHeight, nrvq::kDefaultFps};
    nrvq::FrameRecord record;

    double operator()(const nrvq::Implementation& version, Frames& f, Scratch& scratch) {
        if (version.pair != nullptr) {
            version.pair(&f.current, &f.previous, inputs, scratch);
        }
        return version.ordered({&f.current, &f.previous, inputs, memory, record});
    }
};

// The twelve single-frame indicators and the three temporal ones on one
// frame, as the engine runs them on one thread.
void wholeFrame(benchmark::State& state, bool reference) {
    Frames& f = frames();
    nrvq::FrameWorker worker(kWidth, kHeight, reference);
    nrvq::TemporalState temporal(kWidth, kHeight, nrvq::kDefaultFps, reference);
    nrvq::TemporalInputs inputs(kWidth, kHeight);
    nrvq::FrameRecord record;
    nrvq::Timings timings;
    const LoopClock clock;
    // As a run's worker takes a frame whose frame before is read already.
    for (auto _ : state) {
        worker.analyze(&f.current, record, timings, &f.previous, &inputs);
        worker.analyzeTemporal(&f.current, &f.previous, inputs, timings);
        temporal.analyze(&f.current, &f.previous, record, timings, &inputs);
        benchmark::DoNotOptimize(record);
    }
    setCounters(state, clock);
}

void registerAll() {
    namespace k = nrvq::kernels;
    // Every row of the indicator table, its two versions as the analysis
    // calls them (the literal ones allocating their working images); the
    // temporal ones run their pair and ordered steps on the two frames.
    static Scratch unused;  // the literal versions take none
    for (const nrvq::IndicatorInfo& row : nrvq::kIndicators) {
        const nrvq::Implementation literal = row.literal;
        const nrvq::Implementation fast = row.fast;
        if (fast.frame == literal.frame && fast.pair == literal.pair && fast.ordered == literal.ordered) {
            continue;  // one version for both (freezing): nothing to compare
        }
        if (row.kind == nrvq::IndicatorKind::SingleFrame) {
            registerIndicator(
                std::string(row.key), [literal](Frames& f) { return literal.frame(&f.current, unused); },
                [fast](Frames& f, Scratch& s) { return fast.frame(&f.current, s); });
        } else {
            registerIndicator(
                std::string(row.key),
                [literal, run = std::make_shared<TemporalRun>()](Frames& f) { return (*run)(literal, f, unused); },
                [fast, run = std::make_shared<TemporalRun>()](Frames& f, Scratch& s) { return (*run)(fast, f, s); });
        }
    }

    // The results several indicators share (computed once per frame in a
    // run, together in one banded walk; each indicator's figure above
    // includes them, as it computes them on its own outside a run): the
    // block statistics of noise, exposure, blackout and contrast, and the
    // frame sums of spatial activity, blur and block loss.
    const auto registerShared = [](const std::string& name, double (*fn)(const Image*, Scratch&)) {
        for (const SimdLevel level : k::availableSimdLevels()) {
            const std::string full = name + "/fast/" + std::string(k::simdLevelName(level));
            benchmark::RegisterBenchmark(full.c_str(), [level, fn](benchmark::State& state) {
                nrvq::kernels::setSimdLevel(level);
                Frames& f = frames();
                Scratch scratch;
                const LoopClock clock;
                for (auto _ : state) {
                    benchmark::DoNotOptimize(fn(&f.current, scratch));
                }
                setCounters(state, clock);
                nrvq::kernels::setSimdLevel(SimdLevel::best);
            })->Unit(benchmark::kMillisecond);
        }
    };
    registerShared("sharedBlockStats",
                   [](const Image* frame, Scratch& s) { return static_cast<double>(k::blockStats(frame, s).sums[0]); });
    registerShared("sharedFrameSums",
                   [](const Image* frame, Scratch& s) { return static_cast<double>(k::frameSums(frame, s).sobel); });

    // The joint walk over the two frames when temporal activity and
    // flickering are both selected: the changed blocks and the squared
    // differences.
    for (const SimdLevel level : k::availableSimdLevels()) {
        const std::string name = "sharedPairWalk/fast/" + std::string(k::simdLevelName(level));
        benchmark::RegisterBenchmark(name.c_str(), [level](benchmark::State& state) {
            nrvq::kernels::setSimdLevel(level);
            Frames& f = frames();
            std::vector<uint8_t> changed(static_cast<size_t>(kWidth / 8) * (kHeight / 8));
            const LoopClock clock;
            for (auto _ : state) {
                benchmark::DoNotOptimize(k::changedBlocksAndActivity(&f.current, &f.previous, changed.data()));
            }
            setCounters(state, clock);
            nrvq::kernels::setSimdLevel(SimdLevel::best);
        })->Unit(benchmark::kMillisecond);
    }

    benchmark::RegisterBenchmark("wholeFrame/reference", [](benchmark::State& state) { wholeFrame(state, true); })
        ->Unit(benchmark::kMillisecond);
    for (const SimdLevel level : k::availableSimdLevels()) {
        const std::string name = "wholeFrame/fast/" + std::string(k::simdLevelName(level));
        benchmark::RegisterBenchmark(name.c_str(), [level](benchmark::State& state) {
            nrvq::kernels::setSimdLevel(level);
            wholeFrame(state, false);
            nrvq::kernels::setSimdLevel(SimdLevel::best);
        })->Unit(benchmark::kMillisecond);
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
