// Differential fuzz target: a whole run of the engine on frames whose size
// (up to 64 x 64), number and content come from the input, once with the
// fast kernels and once with the literal indicators. The fast run computes
// one row of the indicator table and what it needs, or all of them, as the
// last input byte picks. Any difference in any bit of a value both runs
// computed is a finding, and so is a set of computed columns other than the
// selection and its needs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/analyzer.h"

#if defined(__clang__)
#define NOT_TRACED __attribute__((no_sanitize("coverage")))
#else
#define NOT_TRACED
#endif

namespace {

// Frames cut from the input bytes: a header picks the size, the count and
// how the bytes fill a frame (as they are, thresholded to two levels, or
// repeated from the previous frame), so that flat, tied and repeated content
// is common. The top two bits of the size and count bytes shorten them (a
// side to at most 64, 32, 16 or 8; the count to at most 12, 6, 3 or 2), so
// that most runs are small and quick while every size up to 64 x 64 and
// every count up to 12 stays reachable.
class BytesSource : public nrvq::FrameSource {
public:
    BytesSource(const uint8_t* data, size_t size) : data_(data), size_(size) {
        info_.width = side(data[0]);
        info_.height = side(data[1]);
        info_.fps = 1 + data[2] % 60;
        frames_ = 1 + ((data[3] & 63) % 12 >> (data[3] >> 6));
        info_.frameCount = frames_;
        at_ = 4;
    }
    const nrvq::SourceInfo& info() const override { return info_; }
    // Not traced for coverage: the fill loop's comparisons are the same in
    // every run and took a good part of its time.
    NOT_TRACED nrvq::ReadResult next(uint8_t* luma) override {
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
            // The content bytes, from the current position on, round and round.
            const size_t content = size_ - 4;
            size_t from = content > 0 ? at_ % content : 0;
            for (size_t i = 0; i < n; ++i) {
                const uint8_t b = content > 0 ? data_[4 + from] : 0;
                if (content > 0 && ++from == content) from = 0;
                luma[i] = mode == 1 ? (b & 1 ? 255 : 0) : mode == 2 ? static_cast<uint8_t>(b & 3) : b;
            }
            at_ += n;
        }
        last_.assign(luma, luma + n);
        ++delivered_;
        return r;
    }

private:
    static int side(uint8_t b) { return 1 + ((b & 63) >> (b >> 6)); }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    int64_t frames_ = 0;
    int64_t delivered_ = 0;
    std::vector<uint8_t> last_;
    nrvq::SourceInfo info_;
};

std::vector<nrvq::FrameRecord> run(const uint8_t* data, size_t size, bool reference, uint32_t indicators) {
    BytesSource source(data, size);
    nrvq::AnalyzerOptions options;
    options.threads = 1;
    options.reference = reference;
    options.indicators = indicators;
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
    const size_t pick = data[size - 1] % (nrvq::kIndicatorCount + 1);
    const uint32_t selected = pick == nrvq::kIndicatorCount ? nrvq::kAllColumns : 1u << pick;
    const nrvq::ColumnSet computed = nrvq::withDependencies(nrvq::ColumnSet(selected));
    const std::vector<nrvq::FrameRecord> fast = run(data, size, false, selected);
    const std::vector<nrvq::FrameRecord> literal = run(data, size, true, nrvq::kAllColumns);
    if (fast.size() != literal.size()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < fast.size(); ++i) {
        if (fast[i].computed != computed) {
            __builtin_trap();
        }
        for (size_t c = 0; c < nrvq::kIndicatorCount; ++c) {
            if (computed[c] && std::memcmp(&fast[i].values[c], &literal[i].values[c], sizeof(double)) != 0) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
