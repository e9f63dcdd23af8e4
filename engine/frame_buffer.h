// A buffer for one frame's luma plane that the analysis reads over and over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/definitions.h"

namespace nrvq {

// Zeroed memory for a w x h plane, owned until destroyed or moved from. On
// Linux a plane of about 2 MiB or more starts on a 2 MiB boundary and asks
// for huge pages (given where the system grants them on request): the
// analysis reads a frame in several passes, and on 4 KiB pages each pass
// walks the page tables hundreds of times, which is costly on a virtual
// machine. Where no huge pages are given, ordinary pages serve as before.
class FrameBuffer {
public:
    // Throws std::bad_alloc when the size overflows or memory runs out.
    FrameBuffer(uint64_t w, uint64_t h);
    ~FrameBuffer();
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;
    FrameBuffer(FrameBuffer&& other) noexcept;
    FrameBuffer& operator=(FrameBuffer&& other) noexcept;

    uint8_t* data() const { return data_; }
    Image image() const { return Image{w_, h_, data_}; }

private:
    void release() noexcept;

    uint64_t w_;
    uint64_t h_;
    uint8_t* data_ = nullptr;
    size_t mapped_ = 0;  // bytes mapped at data_; 0 when data_ came from calloc
};

}  // namespace nrvq
