// Fast blur.
#include "kernels/kernels.h"
#include "metrics/blur.h"

namespace nrvq::kernels {

double blur(const Image* frame, Scratch&) { return ::blur(frame); }

}  // namespace nrvq::kernels
