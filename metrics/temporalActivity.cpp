#include "metrics/temporalActivity.h"

#include <cmath>

double temporalActivity(const Image* frame, const Image* previous) {
    // Root mean square of the frame difference: sqrt(sum) / sqrt(n). A frame
    // without samples gives 0 / 0.
    return temporalAct(frame, previous) / std::sqrt(static_cast<double>(frame->w * frame->h));
}
