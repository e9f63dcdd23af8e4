// Fast spatialActivity.
#include "kernels/kernels.h"
#include "metrics/spatialActivity.h"

namespace nrvq::kernels {

double spatialActivity(const Image* frame, Scratch&) { return ::spatialActivity(frame); }

}  // namespace nrvq::kernels
