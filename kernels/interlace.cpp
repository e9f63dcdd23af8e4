// Fast interlace.
#include "kernels/kernels.h"
#include "metrics/interlace.h"

namespace nrvq::kernels {

double interlace(const Image* frame, Scratch&) { return ::interlace(frame); }

}  // namespace nrvq::kernels
