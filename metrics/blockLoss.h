// Block loss: outlines of lost blocks on the 16x16 grid.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/definitions.h"

// Mean over the 256x256 regions of (horizontal edge runs x vertical edge
// runs) on the 16x16 grid lines; -1.0 for frames below 256x256.
double blockLoss(const Image* frame);

// Where block loss was found: for each 256x256 region (regionCols x
// regionRows, row after row) the product its mean is made of, nonzero where
// the region holds runs along both directions. Empty below 256x256.
std::vector<int32_t> blockLossRegions(const Image* frame);
