// Fast noise.
#include "kernels/kernels.h"
#include "metrics/noise.h"

namespace nrvq::kernels {

double noise(const Image* frame, Scratch&) { return ::noise(frame); }

}  // namespace nrvq::kernels
