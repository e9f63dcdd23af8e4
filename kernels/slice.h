// Slice's band matches, which the joint walk (kernels/frameSums.h) computes
// as the rows come by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/scratch.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

// Whether slice measures frame (else its value is -1).
bool sliceApplies(const Image* frame);
// The bands of 16 rows compared with the band below, of a frame slice
// measures.
size_t sliceBands(const Image* frame);
// Where slice keeps the matches of frame in scratch: two per band, the
// vertical then the horizontal count.
uint64_t* sliceMatchBuffer(const Image* frame, Scratch& scratch);
// The matches of bands from ... to - 1 of frame into matches.
void sliceBandMatches(const Image* frame, size_t from, size_t to, uint64_t* matches);

}  // namespace nrvq::kernels
