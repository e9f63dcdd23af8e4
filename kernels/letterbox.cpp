// Fast letterbox.
#include "kernels/kernels.h"
#include "metrics/letterbox.h"

namespace nrvq::kernels {

double letterbox(const Image* frame, Scratch&) { return ::letterbox(frame); }

}  // namespace nrvq::kernels
