// Fast RMS contrast.
#include "kernels/kernels.h"
#include "metrics/contrast.h"

namespace nrvq::kernels {

double contrastRMS(const Image* frame, Scratch&) { return ::contrastRMS(frame); }

}  // namespace nrvq::kernels
