// Contrast: RMS contrast, the sample standard deviation of the luma plane.
#pragma once

#include "tools/definitions.h"

double contrastRMS(const Image* frame);
