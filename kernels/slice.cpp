// Fast slice.
#include "kernels/kernels.h"
#include "metrics/slice.h"

namespace nrvq::kernels {

double slice(const Image* frame, Scratch&) { return ::slice(frame); }

}  // namespace nrvq::kernels
