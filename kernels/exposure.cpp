// Fast exposure.
#include "kernels/kernels.h"
#include "metrics/exposure.h"

namespace nrvq::kernels {

double exposure(const Image* frame, Scratch&) { return ::exposure(frame); }

}  // namespace nrvq::kernels
