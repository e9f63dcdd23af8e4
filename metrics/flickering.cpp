#include "metrics/flickering.h"

double flickering(const Image*, const Image*, Image*, Image*) { return 0.0; }

int compareElements(const void*, const void*) { return 0; }
