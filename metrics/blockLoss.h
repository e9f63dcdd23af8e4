// Block loss: outlines of lost blocks on the 16x16 grid.
#pragma once

#include "tools/definitions.h"

// Mean over the 256x256 regions of (horizontal edge runs x vertical edge
// runs) on the 16x16 grid lines; -1.0 for frames below 256x256.
double blockLoss(const Image* frame);
