#include "metrics/spatialActivity.h"

double spatialActivity(const Image*) { return 0.0; }
