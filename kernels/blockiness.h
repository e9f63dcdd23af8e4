// Blockiness's walk over the rows, which the joint walk (kernels/frameSums.h)
// takes a band at a time as the rows come by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/scratch.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

// The walk's state in scratch: the steps at each vertical border, and the
// totals and running sums of the horizontal borders.
struct BlockinessWalk {
    uint64_t* inside;
    uint64_t* across;
    uint64_t* state;
};
BlockinessWalk blockinessWalk(const Image* frame, Scratch& scratch);
// Rows from ... to - 1 of frame (whose sample count fits 32 bits) into the
// walk's state; from 0 starts it afresh.
void blockinessRows(const Image* frame, size_t from, size_t to, const BlockinessWalk& walk);

}  // namespace nrvq::kernels
