// Fast pillarbox.
#include "kernels/kernels.h"
#include "metrics/pillarbox.h"

namespace nrvq::kernels {

double pillarbox(const Image* frame, Scratch&) { return ::pillarbox(frame); }

}  // namespace nrvq::kernels
