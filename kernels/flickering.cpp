// Fast flickering.
#include "kernels/kernels.h"

namespace nrvq::kernels {

double flickering(FlickeringState& state, const Image* current, const Image* previous, Image* transitionCounts,
                  Image* blockStates, Scratch&) {
    return state.update(current, previous, transitionCounts, blockStates);
}

}  // namespace nrvq::kernels
