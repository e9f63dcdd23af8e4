// The sums and square sums of a frame's whole 8 x 8 blocks, which noise,
// exposure, blackout and contrast all derive from the same samples: computed
// once per frame of an analysis and handed to each of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/scratch.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

struct BlockStats {
    size_t bw = 0;  // whole blocks across: w / 8
    size_t bh = 0;  // whole blocks down: h / 8
    // Row-major, bw * bh each: the block's sample sum (at most 16 320) and
    // square sum (at most 4 161 600).
    const int32_t* sums = nullptr;
    const int32_t* squares = nullptr;
};

// The statistics of frame. Within an analysis (after scratch.beginFrame())
// the first call for a frame computes them and later calls for the same
// frame take them as they are; outside one, every call computes them.
BlockStats blockStats(const Image* frame, Scratch& scratch);
// Where blockStats() keeps the statistics of frame in scratch, whatever they
// hold.
BlockStats blockStatsBuffers(const Image* frame, Scratch& scratch);

// The statistics of the block rows from ... to - 1 of frame into sums and
// squares (bw entries per block row, from block row 0 on).
void blockRowsStats(const Image* frame, size_t from, size_t to, int32_t* sums, int32_t* squares);

}  // namespace nrvq::kernels
