// Fast blackout.
#include "kernels/kernels.h"
#include "metrics/blackout.h"

namespace nrvq::kernels {

bool blackout(const Image* frame, Scratch&) { return ::blackout(frame); }

}  // namespace nrvq::kernels
