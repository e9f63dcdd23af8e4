#include "metrics/letterbox.h"

double letterbox(const Image*) { return 0.0; }

bool checkLetterBar(const uint8_t*, uint32_t, uint32_t, uint32_t) { return false; }
