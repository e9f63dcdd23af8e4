#include "engine/frame_buffer.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

namespace nrvq {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;

#if defined(__linux__)
// Maps bytes (a multiple of kPage, at least kHugePage) of zeroed memory
// starting on a huge page boundary, with huge pages asked for; null when the
// mapping fails.
uint8_t* mapAligned(size_t bytes) {
    const size_t span = bytes + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto* base = static_cast<uint8_t*>(raw);
    const auto at = reinterpret_cast<uintptr_t>(base);
    uint8_t* aligned = base + ((kHugePage - at % kHugePage) % kHugePage);
    // The mapping keeps only [aligned, aligned + bytes).
    if (aligned > base) {
        munmap(base, static_cast<size_t>(aligned - base));
    }
    if (aligned + bytes < base + span) {
        munmap(aligned + bytes, static_cast<size_t>(base + span - (aligned + bytes)));
    }
    // Only a hint: without it, or where it fails, the pages are ordinary ones.
    madvise(aligned, bytes, MADV_HUGEPAGE);
    return aligned;
}
#endif

}  // namespace

FrameBuffer::FrameBuffer(uint64_t w, uint64_t h) : w_(w), h_(h) {
    if (h != 0 && w > std::numeric_limits<size_t>::max() / h) {
        throw std::bad_alloc();
    }
    const size_t bytes = static_cast<size_t>(w * h);
#if defined(__linux__)
    // A plane just under a whole number of huge pages (1080p: 1.98 MiB) is
    // given the rest of its last one, which costs at most an eighth of it;
    // else the part past the last whole huge page stays on ordinary pages.
    if (bytes >= kHugePage / 8 * 7 && bytes <= std::numeric_limits<size_t>::max() - 2 * kHugePage) {
        const size_t whole = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        mapped_ = whole - bytes <= bytes / 8 ? whole : (bytes + kPage - 1) / kPage * kPage;
        data_ = mapAligned(mapped_);
        if (data_ != nullptr) {
            return;
        }
        mapped_ = 0;
    }
#endif
    data_ = static_cast<uint8_t*>(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
}

FrameBuffer::~FrameBuffer() { release(); }

FrameBuffer::FrameBuffer(FrameBuffer&& other) noexcept
    : w_(other.w_), h_(other.h_), data_(std::exchange(other.data_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)) {}

FrameBuffer& FrameBuffer::operator=(FrameBuffer&& other) noexcept {
    if (this != &other) {
        release();
        w_ = other.w_;
        h_ = other.h_;
        data_ = std::exchange(other.data_, nullptr);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

void FrameBuffer::release() noexcept {
#if defined(__linux__)
    if (mapped_ != 0) {
        munmap(data_, mapped_);
        data_ = nullptr;
        mapped_ = 0;
        return;
    }
#endif
    std::free(data_);
    data_ = nullptr;
}

}  // namespace nrvq
