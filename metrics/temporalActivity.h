// Temporal activity: root mean square of the difference to the previous frame.
#pragma once

#include "tools/definitions.h"

// temporalAct(frame, previous) divided by the square root of the sample
// count; previous must hold at least as many samples as frame.
double temporalActivity(const Image* frame, const Image* previous);
