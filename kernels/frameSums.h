// The whole-frame gradient sums that spatial activity, blur and block loss
// derive from the same rows: computed in one walk over the frame, once per
// frame of an analysis, and handed to each of them.
#pragma once

#include <cstdint>

#include "kernels/scratch.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

struct FrameSums {
    // gx^2 + gy^2 of the Sobel operator over the interior (rows and columns
    // 1 ... size - 2).
    uint64_t sobel = 0;
    // (p(x) - p(x - 1))^2 over rows 1 ... h - 1 and columns 1 ... w - 1.
    uint64_t horizontal = 0;
    // Roberts energy (p(y-1, x-1) - p(y, x))^2 + (p(y-1, x) - p(y, x-1))^2
    // over rows 1 ... h - 1 and columns 1 ... w - 1.
    uint64_t roberts = 0;
};

// The sums of frame, whose width and height are at least 3 and whose sample
// count fits 32 bits. Within an analysis (after scratch.beginFrame()) the
// first call for a frame computes them and later calls for the same frame
// take them as they are; outside one, every call computes them.
FrameSums frameSums(const Image* frame, Scratch& scratch);

// With scratch.jointWalk(), for a frame that takes frame sums, whose sums
// are not yet shared for this frame: computes them and marks them shared,
// and in the same walk computes the block statistics into sums and squares
// (see kernels/blockStats.h), and returns true. Otherwise false, with
// nothing done.
bool walkJointly(const Image* frame, Scratch& scratch, int32_t* sums, int32_t* squares);

}  // namespace nrvq::kernels
