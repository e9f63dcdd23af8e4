// Fast blockLoss.
#include "kernels/kernels.h"
#include "metrics/blockLoss.h"

namespace nrvq::kernels {

double blockLoss(const Image* frame, Scratch&) { return ::blockLoss(frame); }

}  // namespace nrvq::kernels
