// Working memory that lives as long as an analysis context and is reused from
// frame to frame, so that analysing a frame allocates nothing once the first
// frame has sized every buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "tools/definitions.h"

namespace nrvq {

class Scratch final : public ImageAllocator {
public:
    Scratch() = default;
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // A 64-byte aligned buffer of at least count elements of T for the given
    // slot, kept from call to call (its contents are whatever the last user
    // left). A slot grows when asked for more; each kernel uses slots of its
    // own (see kernels/slots.h).
    template <typename T>
    T* get(uint32_t slot, size_t count) {
        return static_cast<T*>(bytes(slot, count * sizeof(T)));
    }
    void* bytes(uint32_t slot, size_t size);

    // Buffers taken and given back by the toolkit's image constructors while
    // this scratch is installed for the thread (see ScratchScope): a freed
    // buffer is kept and handed out again for the next request of its size.
    void* acquire(size_t size, bool zeroed) override;
    // False when ptr is not one of this scratch's buffers.
    bool release(void* ptr) override;

    // Marks the start of the next frame of an analysis: results shared
    // between the kernels of one frame are computed again. Frame numbers
    // count from 1; 0 means that no analysis marks its frames, and nothing
    // is shared.
    void beginFrame() {
        jointWalk_ = frameNumber_ != 0 && sharedStats_.frame == frameNumber_ && sharedSums_.frame == frameNumber_;
        ++frameNumber_;
    }
    uint64_t frameNumber() const { return frameNumber_; }
    // Which frame a result shared between kernels was computed for.
    struct SharedStats {
        uint64_t frame = 0;
        const uint8_t* data = nullptr;
        uint64_t w = 0;
        uint64_t h = 0;
    };
    // True when shared was computed for frame in this frame of the
    // analysis; else false, and shared now names frame (whose result the
    // caller computes).
    bool holds(SharedStats& shared, const Image* frame) {
        if (frameNumber_ != 0 && shared.frame == frameNumber_ && shared.data == frame->data && shared.w == frame->w &&
            shared.h == frame->h) {
            return true;
        }
        shared = {frameNumber_, frame->data, frame->w, frame->h};
        return false;
    }
    // The block statistics (kernels/blockStats.h) and the frame sums
    // (kernels/frameSums.h).
    SharedStats& sharedStats() { return sharedStats_; }
    SharedStats& sharedSums() { return sharedSums_; }
    // Whether the block statistics and the frame sums are computed together,
    // in one walk over the frame, when one of them is asked for: when the
    // frame before asked for both.
    bool jointWalk() const { return jointWalk_; }

    // How many times memory was taken from the system: constant once every
    // buffer has its size. Large buffers of a scratch that has ended wait
    // for the next one made on the same thread, which takes them first.
    uint64_t systemAllocations() const { return systemAllocations_; }

private:
    void* obtain(size_t size, size_t* capacity);

    struct Slot {
        void* data = nullptr;
        size_t size = 0;
    };
    struct Pooled {
        void* data = nullptr;
        size_t size = 0;
        bool inUse = false;
    };
    std::vector<Slot> slots_;
    std::vector<Pooled> pool_;
    uint64_t systemAllocations_ = 0;
    uint64_t frameNumber_ = 0;
    SharedStats sharedStats_;
    SharedStats sharedSums_;
    bool jointWalk_ = false;
};

// Installs a scratch for the calling thread for the life of the scope: the
// toolkit's image constructors then take their buffers from it.
class ScratchScope {
public:
    explicit ScratchScope(Scratch* scratch);
    ~ScratchScope();
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;

private:
    ImageAllocator* previous_;
};

}  // namespace nrvq
