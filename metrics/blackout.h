// Blackout: frames whose 8x8 block means all lie within a few luma levels.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Largest spread of block means that still counts as a blackout (exclusive).
inline constexpr double THRESHOLD_BLACKOUT = 4.0;

bool blackout(const Image* frame);
// Smallest and largest of size values; size must be positive.
void minmax(const int32_t* values, uint64_t size, int32_t* min, int32_t* max);
