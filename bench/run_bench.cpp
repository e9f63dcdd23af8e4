// Whole runs through the engine: frames from memory, every indicator, the
// records consumed in order; wall time per frame for one and two threads,
// and the memory a 4K run holds however many frames it examines.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "clips/clip.h"
#include "engine/analyzer.h"

namespace {

class LoopSource : public nrvq::FrameSource {
public:
    LoopSource(const std::vector<clips::Plane>& frames, int64_t count) : frames_(frames), count_(count) {
        info_.width = frames.front().w;
        info_.height = frames.front().h;
        info_.frameCount = count;
    }
    const nrvq::SourceInfo& info() const override { return info_; }
    nrvq::ReadResult next(uint8_t* luma) override {
        nrvq::ReadResult r;
        if (next_ == count_) {
            r.status = nrvq::ReadStatus::End;
            return r;
        }
        const clips::Plane& plane = frames_[static_cast<size_t>(next_++) % frames_.size()];
        std::memcpy(luma, plane.samples.data(), plane.samples.size());
        return r;
    }

private:
    const std::vector<clips::Plane>& frames_;
    int64_t count_;
    int64_t next_ = 0;
    nrvq::SourceInfo info_;
};

// Arguments: width, height, threads, literal (1) or fast (0).
void WholeRun(benchmark::State& state) {
    const auto w = static_cast<int32_t>(state.range(0));
    const auto h = static_cast<int32_t>(state.range(1));
    std::vector<clips::Plane> frames;
    for (int t = 0; t < 8; ++t) {
        frames.push_back(clips::texture(w, h, t));
    }
    nrvq::AnalyzerOptions options;
    options.threads = static_cast<unsigned>(state.range(2));
    options.reference = state.range(3) != 0;
    const int64_t count = options.reference ? 32 : 256;
    for (auto _ : state) {
        LoopSource source(frames, count);
        const nrvq::RunOutcome outcome =
            nrvq::runAnalysis(source, options, [](const nrvq::FrameRecord&) { return true; });
        benchmark::DoNotOptimize(outcome.examined);
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["ms_per_frame"] = benchmark::Counter(
        static_cast<double>(state.iterations() * count) * 1e-3,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(WholeRun)
    ->ArgNames({"w", "h", "threads", "literal"})
    ->Args({1920, 1080, 1, 0})
    ->Args({1920, 1080, 2, 0})
    ->Args({1920, 1080, 1, 1})
    ->Args({1920, 1080, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Resident memory of the process in MB, from /proc/self/statm.
double residentMegabytes() {
    long pages = 0;
    long resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Arguments: frames, threads. The highest resident memory seen while the
// records arrive: the same for a short and a long run, since only the frames
// in flight are held. Run it on its own (--benchmark_filter=MemoryAt4K) so
// that earlier benchmarks do not count.
void MemoryAt4K(benchmark::State& state) {
    const std::vector<clips::Plane> frames = {clips::texture(3840, 2160, 0), clips::texture(3840, 2160, 1)};
    nrvq::AnalyzerOptions options;
    options.threads = static_cast<unsigned>(state.range(1));
    double peak = 0;
    for (auto _ : state) {
        LoopSource source(frames, state.range(0));
        nrvq::runAnalysis(source, options, [&](const nrvq::FrameRecord&) {
            peak = std::max(peak, residentMegabytes());
            return true;
        });
    }
    state.counters["peak_resident_MB"] = peak;
}

BENCHMARK(MemoryAt4K)
    ->ArgNames({"frames", "threads"})
    ->Args({50, 2})
    ->Args({400, 2})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What the machine gives a second thread at all: vector additions on
// registers alone (no memory, nothing shared), the same work on each
// thread. Its items_per_second at two threads over one bounds what any
// threaded run can gain; on a virtual machine whose host runs other work it
// is below 2 and varies from moment to moment.
void RegisterOnlyScaling(benchmark::State& state) {
    using Vector = int32_t __attribute__((vector_size(16)));
    constexpr int kSteps = 1 << 16;
    Vector sums[8] = {};
    const Vector step = Vector{} + 3;
    for (auto _ : state) {
        for (int n = 0; n < kSteps; ++n) {
            for (Vector& sum : sums) {
                sum += step;
#if defined(__x86_64__)
                asm volatile("" : "+x"(sum));  // kept in a register, each addition done
#else
                benchmark::DoNotOptimize(sum);
#endif
            }
        }
    }
    benchmark::DoNotOptimize(sums);
    state.SetItemsProcessed(state.iterations() * kSteps * 8);
}

BENCHMARK(RegisterOnlyScaling)->Threads(1)->Threads(2)->MinTime(0.2)->UseRealTime();

}  // namespace
