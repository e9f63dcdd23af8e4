#include <cstdint>

#include <hwy/nanobenchmark.h>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "cli/run.h"

// The SIMD library measures its benchmark timer's resolution when it is
// loaded, thousands of timer reads that cost a one-frame run a third of its
// processor time. The tool never uses that timer, so its own definition,
// which the library's call binds to instead, takes a few reads.
namespace hwy::platform {
uint64_t TimerResolution() {
#if defined(__x86_64__) || defined(__i386__)
    uint64_t best = UINT64_MAX;
    for (int i = 0; i < 16; ++i) {
        const uint64_t start = __rdtsc();
        const uint64_t stop = __rdtsc();
        if (stop > start && stop - start < best) {
            best = stop - start;
        }
    }
    return best == UINT64_MAX ? 1 : best;
#else
    return 1;
#endif
}
}  // namespace hwy::platform

int main(int argc, char** argv) { return nrvq::cli::runNrvq(argc, argv); }
