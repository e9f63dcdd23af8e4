// Fast temporal activity.
#include "kernels/kernels.h"
#include "metrics/temporalActivity.h"

namespace nrvq::kernels {

double temporalActivity(const Image* frame, const Image* previous, Scratch&) {
    return ::temporalActivity(frame, previous);
}

}  // namespace nrvq::kernels
