// Fast versions of the indicators. Each gives exactly the value of its
// literal version in metrics/ (the same bits, not-a-number included) for
// every frame, and keeps its working memory in the caller's Scratch so that
// a frame allocates nothing once the first one has sized the buffers.
#pragma once

#include "kernels/scratch.h"
#include "metrics/flickering.h"
#include "tools/definitions.h"

namespace nrvq::kernels {

double blockiness(const Image* frame, Scratch& scratch);
double spatialActivity(const Image* frame, Scratch& scratch);
double letterbox(const Image* frame, Scratch& scratch);
double pillarbox(const Image* frame, Scratch& scratch);
double blockLoss(const Image* frame, Scratch& scratch);
double blur(const Image* frame, Scratch& scratch);
double exposure(const Image* frame, Scratch& scratch);
double interlace(const Image* frame, Scratch& scratch);
double noise(const Image* frame, Scratch& scratch);
double slice(const Image* frame, Scratch& scratch);
bool blackout(const Image* frame, Scratch& scratch);
double contrastRMS(const Image* frame, Scratch& scratch);

double temporalActivity(const Image* frame, const Image* previous, Scratch& scratch);
// The value from the sum of the squared sample differences of two frames of
// the given sample count.
double temporalActivityOf(uint64_t squaredDifferences, uint64_t samples);
// Flickering in two steps: which of the first bw x bh blocks differ between
// the two frames (1 in changed, row-major, else 0), which depends on the two
// frames alone; then, in frame order, the state changes of
// FlickeringState::update from those marks.
void changedBlocks(const Image* current, const Image* previous, uint64_t bw, uint64_t bh, uint8_t* changed);
// changedBlocks(current, previous, w / 8, h / 8, changed) and, from the same
// walk over the two frames, temporalActivity(current, previous).
double changedBlocksAndActivity(const Image* current, const Image* previous, uint8_t* changed);
// The same for block rows by0 ... by1 - 1 (and with last, the rows below the
// last whole block row): their changed blocks, and the sum of their squared
// differences, which over all of them gives temporalActivityOf the value.
uint64_t changesAndSquares(const Image* current, const Image* previous, uint64_t by0, uint64_t by1, bool last,
                           uint8_t* changed);
double flickeringUpdate(FlickeringState& state, const uint8_t* changed, Image* transitionCounts, Image* blockStates);

}  // namespace nrvq::kernels
