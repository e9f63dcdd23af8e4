// Differential fuzz target: a whole run of the engine on frames whose size
// (up to 64 x 64), number and content come from the input, once with the
// fast kernels and once with the literal indicators. Any difference in any
// bit of any value is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/analyzer.h"

namespace {

// Frames cut from the input bytes: a header picks the size, the count and
// how the bytes fill a frame (as they are, thresholded to two levels, or
// repeated from the previous frame), so that flat, tied and repeated content
// is common.
class BytesSource : public nrvq::FrameSource {
public:
    BytesSource(const uint8_t* data, size_t size) : data_(data), size_(size) {
        info_.width = 1 + data[0] % 64;
        info_.height = 1 + data[1] % 64;
        info_.fps = 1 + data[2] % 60;
        frames_ = 1 + data[3] % 12;
        info_.frameCount = frames_;
        at_ = 4;
    }
    const nrvq::SourceInfo& info() const override { return info_; }
    nrvq::ReadResult next(uint8_t* luma) override {
        nrvq::ReadResult r;
        if (delivered_ == frames_) {
            r.status = nrvq::ReadStatus::End;
            return r;
        }
        const size_t n = static_cast<size_t>(info_.width) * static_cast<size_t>(info_.height);
        const uint8_t mode = at_ < size_ ? data_[at_++] % 4 : 0;
        if (mode == 3 && delivered_ > 0) {
            std::memcpy(luma, last_.data(), n);  // a repeat
        } else {
            for (size_t i = 0; i < n; ++i) {
                const uint8_t b = size_ > 4 ? data_[4 + (at_ + i) % (size_ - 4)] : 0;
                luma[i] = mode == 1 ? (b & 1 ? 255 : 0) : mode == 2 ? static_cast<uint8_t>(b & 3) : b;
            }
            at_ += n;
        }
        last_.assign(luma, luma + n);
        ++delivered_;
        return r;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    int64_t frames_ = 0;
    int64_t delivered_ = 0;
    std::vector<uint8_t> last_;
    nrvq::SourceInfo info_;
};

std::vector<nrvq::FrameRecord> run(const uint8_t* data, size_t size, bool reference) {
    BytesSource source(data, size);
    nrvq::AnalyzerOptions options;
    options.threads = 1;
    options.reference = reference;
    std::vector<nrvq::FrameRecord> records;
    nrvq::runAnalysis(source, options, [&](const nrvq::FrameRecord& r) {
        records.push_back(r);
        return true;
    });
    return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::vector<nrvq::FrameRecord> fast = run(data, size, false);
    const std::vector<nrvq::FrameRecord> literal = run(data, size, true);
    if (fast.size() != literal.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < fast.size(); ++i) {
        if (std::memcmp(fast[i].values.data(), literal[i].values.data(), sizeof fast[i].values) != 0) {
            __builtin_trap();
        }
    }
    return 0;
}
