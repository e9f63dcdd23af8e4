#include "kernels/scratch.h"

#include <cstring>

namespace nrvq {

namespace {

thread_local Scratch* installed = nullptr;

constexpr size_t kAlignment = 64;

void* alignedAlloc(size_t size) {
    const size_t rounded = (size + kAlignment - 1) / kAlignment * kAlignment;
    if (rounded < size) {
        throw std::bad_alloc();
    }
    void* p = std::aligned_alloc(kAlignment, rounded == 0 ? kAlignment : rounded);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

Scratch::~Scratch() {
    for (Slot& s : slots_) {
        std::free(s.data);
    }
    for (Pooled& p : pool_) {
        std::free(p.data);
    }
}

void* Scratch::bytes(uint32_t slot, size_t size) {
    if (slot >= slots_.size()) {
        slots_.resize(slot + 1);
    }
    Slot& s = slots_[slot];
    if (s.data == nullptr || s.size < size) {
        void* fresh = alignedAlloc(size);
        std::free(s.data);
        s.data = fresh;
        s.size = size;
        ++systemAllocations_;
    }
    return s.data;
}

void* Scratch::acquire(size_t size, bool zeroed) {
    // The smallest free buffer that is large enough; failing that, the
    // largest free one grows. The pool never holds more buffers than were
    // in use at once, whatever sizes the frames ask for.
    Pooled* found = nullptr;
    Pooled* largest = nullptr;
    for (Pooled& p : pool_) {
        if (p.inUse) {
            continue;
        }
        if (p.size >= size && (found == nullptr || p.size < found->size)) {
            found = &p;
        }
        if (largest == nullptr || p.size > largest->size) {
            largest = &p;
        }
    }
    if (found == nullptr && largest != nullptr) {
        void* fresh = alignedAlloc(size);
        std::free(largest->data);
        largest->data = fresh;
        largest->size = size;
        ++systemAllocations_;
        found = largest;
    }
    if (found == nullptr) {
        pool_.push_back(Pooled{alignedAlloc(size), size, false});
        ++systemAllocations_;
        found = &pool_.back();
    }
    found->inUse = true;
    if (zeroed && size > 0) {
        std::memset(found->data, 0, size);
    }
    return found->data;
}

bool Scratch::release(void* ptr) {
    for (Pooled& p : pool_) {
        if (p.data == ptr && p.inUse) {
            p.inUse = false;
            return true;
        }
    }
    return false;
}

ScratchScope::ScratchScope(Scratch* scratch) : previous_(installed) { installed = scratch; }
ScratchScope::~ScratchScope() { installed = previous_; }
Scratch* ScratchScope::current() { return installed; }

}  // namespace nrvq
