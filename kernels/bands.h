// The parts of indicators that the joint walk (kernels/frameSums.h) takes a
// band of rows at a time, as the rows come by.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/scratch.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

// ---- slice: the matches of each band of 16 rows with the band below

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

// ---- blockiness: its walk over the rows

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

// ---- interlace: the combed 4 x 4 blocks

// Where interlace keeps its count of combed blocks in scratch.
uint32_t* combedCount(Scratch& scratch);
// Adds to *combed the combed blocks of the block rows from ... to - 1 of
// frame (whose sample count fits 32 bits).
void combedBlocks(const Image* frame, size_t from, size_t to, uint32_t* combed);

// ---- block loss: the Roberts energies down its vertical grid lines

// Whether block loss counts runs on frame (at least 256 x 256 samples, whose
// count fits 32 bits).
bool gridEnergiesApply(const Image* frame);
// Where block loss keeps the energies of frame in scratch, marked as
// collected for the frame: one per grid column (sample 16 x) of each row of
// the whole 256-row regions, saturated to 16 bits.
uint16_t* gridEnergyBuffer(const Image* frame, Scratch& scratch);
// The energies of rows from ... to - 1 of frame into energies.
void gridColumnEnergies(const Image* frame, size_t from, size_t to, uint16_t* energies);

}  // namespace nrvq::kernels
