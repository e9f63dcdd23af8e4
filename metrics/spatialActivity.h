// Spatial activity: detail of one frame, from its Sobel gradient energy.
#pragma once

#include "tools/definitions.h"

// spatialAct(frame) divided by the square root of the sample count.
double spatialActivity(const Image* frame);
