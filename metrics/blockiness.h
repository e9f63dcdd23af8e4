// Blockiness: visibility of the 8x8 coding-block grid in one frame.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/definitions.h"

// Ratio of the luma steps just inside the block borders to the steps across
// them; near 1 or above without visible blocks, well below 1 with them.
double blockiness(const Image* frame);
// Where: the pieces of block border, one block long, whose step across the
// border is more than twice the step just inside it (summed over the piece)
// and at least 2 per sample: the grid as it shows. Borders between block
// rows come first, row after row (h / 8 - 1 of them, (w + 7) / 8 pieces
// each), then those between block columns ((w / 8 - 1) of them, (h + 7) / 8
// pieces each); nonzero where the grid shows.
std::vector<uint8_t> blockinessGrid(const Image* frame);
// Maps a blockiness value to a mean-opinion score (never negative).
double blockToMOS(double value);
