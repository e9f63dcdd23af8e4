#include "metrics/pillarbox.h"

double pillarbox(const Image*) { return 0.0; }

bool checkPillarBar(const uint8_t*, uint32_t, uint32_t, uint32_t) { return false; }
