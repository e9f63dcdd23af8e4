#include "kernels/scratch.h"

#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define NRVQ_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NRVQ_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef NRVQ_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#define NRVQ_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define NRVQ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define NRVQ_POISON(p, n) ((void)(p), (void)(n))
#define NRVQ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace nrvq {

namespace {

// Large buffers of contexts that have ended, kept for the next context on
// the same thread: a program that measures many short videos one after the
// other (or the fuzzer) then does not ask the system for fresh pages, and
// fault them in, for every video. Bounded in number and bytes; poisoned for
// the address sanitizer while they wait.
// Whether the thread's spares are yet to be made, in use, or gone (a
// context destroyed during the thread's exit, after them, frees its buffers).
enum class SparesState { Unmade, Alive, Gone };
thread_local SparesState sparesState = SparesState::Unmade;

class Spares {
public:
    static constexpr size_t kSmallest = size_t{64} << 10;
    static constexpr size_t kMaxBytes = size_t{64} << 20;
    static constexpr size_t kMaxCount = 8;

    Spares() { sparesState = SparesState::Alive; }
    ~Spares() {
        for (const Spare& s : spares_) {
            NRVQ_UNPOISON(s.data, s.size);
            std::free(s.data);
        }
        sparesState = SparesState::Gone;
    }
    // Keeps the buffer, or frees it when it is small or there is no room.
    void park(void* data, size_t size) {
        if (data == nullptr) return;
        if (size < kSmallest || spares_.size() == kMaxCount || bytes_ + size > kMaxBytes) {
            std::free(data);
            return;
        }
        NRVQ_POISON(data, size);
        spares_.push_back(Spare{data, size});
        bytes_ += size;
    }
    // The smallest kept buffer of at least size bytes, or null.
    void* take(size_t size, size_t* capacity) {
        size_t best = spares_.size();
        for (size_t i = 0; i < spares_.size(); ++i) {
            if (spares_[i].size >= size && (best == spares_.size() || spares_[i].size < spares_[best].size)) {
                best = i;
            }
        }
        if (best == spares_.size()) return nullptr;
        const Spare s = spares_[best];
        spares_.erase(spares_.begin() + static_cast<std::ptrdiff_t>(best));
        bytes_ -= s.size;
        NRVQ_UNPOISON(s.data, s.size);
        *capacity = s.size;
        return s.data;
    }

private:
    struct Spare {
        void* data;
        size_t size;
    };
    std::vector<Spare> spares_;
    size_t bytes_ = 0;
};

thread_local Spares spares;

void park(void* data, size_t size) {
    if (sparesState == SparesState::Gone) {
        std::free(data);
    } else {
        spares.park(data, size);
    }
}

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
        park(s.data, s.size);
    }
    for (Pooled& p : pool_) {
        park(p.data, p.size);
    }
}

// A buffer of at least size bytes: a spare of an ended context, or fresh
// memory from the system (counted).
void* Scratch::obtain(size_t size, size_t* capacity) {
    if (void* spare = sparesState == SparesState::Gone ? nullptr : spares.take(size, capacity)) {
        return spare;
    }
    ++systemAllocations_;
    *capacity = size;
    return alignedAlloc(size);
}

void* Scratch::bytes(uint32_t slot, size_t size) {
    if (slot >= slots_.size()) {
        slots_.resize(slot + 1);
    }
    Slot& s = slots_[slot];
    if (s.data == nullptr || s.size < size) {
        size_t capacity = 0;
        void* fresh = obtain(size, &capacity);
        std::free(s.data);
        s.data = fresh;
        s.size = capacity;
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
        size_t capacity = 0;
        void* fresh = obtain(size, &capacity);
        std::free(largest->data);
        largest->data = fresh;
        largest->size = capacity;
        found = largest;
    }
    if (found == nullptr) {
        pool_.reserve(pool_.size() + 1);  // no throw once the buffer is held
        size_t capacity = 0;
        void* fresh = obtain(size, &capacity);
        pool_.push_back(Pooled{fresh, capacity, false});
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

ScratchScope::ScratchScope(Scratch* scratch) : previous_(installImageAllocator(scratch)) {}
ScratchScope::~ScratchScope() { installImageAllocator(previous_); }

}  // namespace nrvq
