#include "metrics/blur.h"

double blur(const Image*) { return 0.0; }

double blurToMOS(double) { return 0.0; }
