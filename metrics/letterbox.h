// Letterbox: share of the height taken by uniform bars at the top and bottom.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Number of leading uniform row pairs (row i and row h-1-i) divided by h / 2.
double letterbox(const Image* frame);
// True when row i and row h-1-i are both uniform.
bool checkLetterBar(const uint8_t* samples, uint32_t w, uint32_t h, uint32_t i);
