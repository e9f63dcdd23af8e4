// Fast spatial activity. Every Sobel term is an integer below 2^21, so over
// a frame of fewer than 2^32 samples the literal double accumulator holds an
// exact integer below 2^53 at every step: the same total comes from the
// integer sum of the frame sums (kernels/frameSums.h).
#include <cmath>
#include <cstdint>

#include "kernels/frameSums.h"
#include "kernels/kernels.h"
#include "kernels/limits.h"
#include "metrics/spatialActivity.h"

namespace nrvq::kernels {

double spatialActivity(const Image* frame, Scratch& scratch) {
    if (!indexFits32(frame)) {
        return ::spatialActivity(frame);
    }
    const uint64_t w = frame->w;
    const uint64_t h = frame->h;
    const uint64_t energy = w >= 3 && h >= 3 ? frameSums(frame, scratch).sobel : 0;
    return std::sqrt(static_cast<double>(energy)) / std::sqrt(static_cast<double>(w * h));
}

}  // namespace nrvq::kernels
