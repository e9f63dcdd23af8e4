// Pillarbox: share of the width taken by a uniform bar at the left edge.
#pragma once

#include <cstdint>

#include "tools/definitions.h"

// Number of leading column positions j whose column equals column j+1,
// divided by w / 2.
double pillarbox(const Image* frame);
// True when column j equals column j+1 on every examined row.
bool checkPillarBar(const uint8_t* samples, uint32_t w, uint32_t h, uint32_t j);
