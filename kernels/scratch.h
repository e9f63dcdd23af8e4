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

    // Results shared between the kernels of one frame.
    enum class Shared : uint32_t {
        blockStats,      // kernels/blockStats.h
        frameSums,       // kernels/frameSums.h
        sliceMatches,    // slice's band matches (kernels/bands.h)
        blockinessRows,  // blockiness's walk over the rows (kernels/bands.h)
        combedBlocks,    // interlace's combed blocks (kernels/bands.h)
        gridEnergies,    // block loss's grid energies (kernels/bands.h)
        count,
    };

    // Marks the start of the next frame of an analysis: shared results are
    // computed again. Frame numbers count from 1; 0 means that no analysis
    // marks its frames, and nothing is shared. The results the frame before
    // asked for, when more than one, are computed together from now on (see
    // joint()).
    void beginFrame() {
        uint32_t asked = 0;
        uint32_t count = 0;
        for (uint32_t k = 0; k < kShared; ++k) {
            if (frameNumber_ != 0 && shared_[k].frame == frameNumber_) {
                asked |= 1u << k;
                ++count;
            }
        }
        joint_ = count > 1 ? asked : 0;
        ++frameNumber_;
    }
    uint64_t frameNumber() const { return frameNumber_; }
    // True when the result was computed for frame in this frame of the
    // analysis; else false, and the result now belongs to frame (the caller
    // computes it).
    bool holds(Shared result, const Image* frame) {
        Owner& owner = shared_[static_cast<uint32_t>(result)];
        if (frameNumber_ != 0 && owner.frame == frameNumber_ && owner.data == frame->data && owner.w == frame->w &&
            owner.h == frame->h) {
            return true;
        }
        owner = {frameNumber_, frame->data, frame->w, frame->h};
        return false;
    }
    // Whether the result is computed together with the other joint ones, in
    // one walk over the frame (kernels/frameSums.h), when one is asked for.
    bool joint(Shared result) const { return (joint_ >> static_cast<uint32_t>(result) & 1u) != 0; }

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
    // Which frame each shared result was computed for.
    struct Owner {
        uint64_t frame = 0;
        const uint8_t* data = nullptr;
        uint64_t w = 0;
        uint64_t h = 0;
    };
    static constexpr uint32_t kShared = static_cast<uint32_t>(Shared::count);
    Owner shared_[kShared];
    uint32_t joint_ = 0;
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
