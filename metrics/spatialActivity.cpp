#include "metrics/spatialActivity.h"

#include <cmath>

double spatialActivity(const Image* frame) {
    // The divisor counts every sample, including the border that the Sobel
    // operator leaves out; both roots are taken before dividing.
    return spatialAct(frame) / std::sqrt(static_cast<double>(frame->w * frame->h));
}
