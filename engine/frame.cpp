#include "engine/frame.h"

#include <cmath>

namespace nrvq {

double frameTime(double sourceSeconds, int64_t index, double fps) {
    if (!std::isnan(sourceSeconds)) {
        return sourceSeconds;
    }
    return fps > 0 ? static_cast<double>(index) / fps : 0.0;
}

bool isMeasured(const FrameRecord& record, Column column) {
    if (!record.computed[column]) {
        return false;
    }
    if (!record.hasPrevious && !kIndicators[column].measuredOnFirstFrame) {
        return false;
    }
    const std::optional<double>& noValue = kIndicators[column].noValue;
    return !noValue || record.values[column] != *noValue;
}

}  // namespace nrvq
