// Processor time of every indicator on full-HD textured frames.
#include <benchmark/benchmark.h>

#include <vector>

#include "clips/clip.h"
#include "metrics/blackout.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/flickering.h"
#include "metrics/freezing.h"
#include "metrics/interlace.h"
#include "metrics/letterbox.h"
#include "metrics/noise.h"
#include "metrics/pillarbox.h"
#include "metrics/slice.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"

namespace {

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

// Any indicator that looks at the current frame alone.
template <auto Indicator>
void singleFrame(benchmark::State& state) {
    Frames& f = frames();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Indicator(&f.current));
    }
}

void BM_temporalActivity(benchmark::State& state) {
    Frames& f = frames();
    for (auto _ : state) {
        benchmark::DoNotOptimize(temporalActivity(&f.current, &f.previous));
    }
}

void BM_flickering(benchmark::State& state) {
    Frames& f = frames();
    OwnedImage<Image> counts(callocImage(kWidth / 8, kHeight / 8));
    OwnedImage<Image> states(callocImage(kWidth / 8, kHeight / 8));
    for (auto _ : state) {
        benchmark::DoNotOptimize(flickering(&f.current, &f.previous, counts.get(), states.get()));
    }
}

void BM_freezing(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(freezing(false, 0.0, 25.0));
    }
}

}  // namespace

BENCHMARK(singleFrame<blockiness>)->Name("blockiness");
BENCHMARK(singleFrame<spatialActivity>)->Name("spatialActivity");
BENCHMARK(singleFrame<letterbox>)->Name("letterbox");
BENCHMARK(singleFrame<pillarbox>)->Name("pillarbox");
BENCHMARK(singleFrame<blockLoss>)->Name("blockLoss");
BENCHMARK(singleFrame<blur>)->Name("blur");
BENCHMARK(singleFrame<exposure>)->Name("exposure");
BENCHMARK(singleFrame<interlace>)->Name("interlace");
BENCHMARK(singleFrame<noise>)->Name("noise");
BENCHMARK(singleFrame<slice>)->Name("slice");
BENCHMARK(singleFrame<blackout>)->Name("blackout");
BENCHMARK(singleFrame<contrastRMS>)->Name("contrastRMS");
BENCHMARK(BM_temporalActivity)->Name("temporalActivity");
BENCHMARK(BM_freezing)->Name("freezing");
BENCHMARK(BM_flickering)->Name("flickering");

BENCHMARK_MAIN();
