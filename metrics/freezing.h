// Freezing: runs of exactly repeated frames lasting a tenth of a second.
#pragma once

#include "tools/definitions.h"

// Extends or ends the run of repeated frames and tells whether the picture
// counts as frozen at the given frame rate.
bool freezing(bool isBlackout, double temporalActivity, double fps);
