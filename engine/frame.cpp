#include "engine/frame.h"

namespace nrvq {

bool isMeasured(const FrameRecord& record, Column column) {
    if (!record.hasPrevious && !kIndicators[column].measuredOnFirstFrame) {
        return false;
    }
    switch (column) {
        case kBlockLoss:
        case kSlice:
        case kFlickering:
            return record.values[column] != -1.0;
        default:
            return true;
    }
}

}  // namespace nrvq
