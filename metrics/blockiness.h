// Blockiness: visibility of the 8x8 coding-block grid in one frame.
#pragma once

#include "tools/definitions.h"

// Ratio of the luma steps just inside the block borders to the steps across
// them; near 1 or above without visible blocks, well below 1 with them.
double blockiness(const Image* frame);
// Maps a blockiness value to a mean-opinion score (never negative).
double blockToMOS(double value);
