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

// Flickering's changed blocks and temporal activity's squared differences
// (kernels.h, changesAndSquares) against the frame before, which the joint
// walk takes along when asked: the frame's rows are then read once for both.
struct PairChanges {
    const Image* previous = nullptr;  // of the frame's size
    uint8_t* changed = nullptr;       // (w / 8) x (h / 8)
    uint64_t squares = 0;             // the squared differences, once done
    bool done = false;                // whether the walk took them along
};

// The sums of frame, whose width and height are at least 3 and whose sample
// count fits 32 bits. Within an analysis (after scratch.beginFrame()) the
// first call for a frame computes them and later calls for the same frame
// take them as they are; outside one, every call computes them. When pair is
// given and the sums are computed in the joint walk, the walk computes the
// pair's changes too.
FrameSums frameSums(const Image* frame, Scratch& scratch, PairChanges* pair = nullptr);

// The joint walk: when the result asker has just been found not computed
// for this frame and belongs with the frame sums to the scratch's joint
// results (Scratch::joint), and the frame takes frame sums, computes in one
// walk over the frame the sums and every joint result not computed yet for
// it (the asker's included), each into its place in scratch, and returns
// true. Otherwise false, with nothing computed.
bool walkJointly(const Image* frame, Scratch& scratch, Scratch::Shared asker, PairChanges* pair = nullptr);

}  // namespace nrvq::kernels
