// Fast blockiness.
#include "kernels/kernels.h"
#include "metrics/blockiness.h"

namespace nrvq::kernels {

double blockiness(const Image* frame, Scratch&) { return ::blockiness(frame); }

}  // namespace nrvq::kernels
