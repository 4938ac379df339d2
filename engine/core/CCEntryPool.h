// Fixed-size slots for the small per-target records of the scheduler and the action manager.
// Records made one after another sit next to each other in a block, so the per-frame walks over
// them read memory in order instead of hopping across the heap between the nodes and actions
// allocated in between. Freed slots are reused; the blocks go when the pool does.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) // clang's way of saying it
#define FL_POOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(FL_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#define FL_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define FL_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define FL_POOL_POISON(p, n) ((void)(p), (void)(n))
#define FL_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// T may be incomplete where the pool is declared; it must be complete where records are made.
template <class T, std::size_t PerBlock = 256> class CCEntryPool {
public:
    CCEntryPool() = default;
    CCEntryPool(const CCEntryPool&) = delete;
    CCEntryPool& operator=(const CCEntryPool&) = delete;
    // Every record must have been destroyed by then.
    ~CCEntryPool() {
        for (FreeSlot* block : blocks_) {
            FL_POOL_UNPOISON(block, blockBytes_);
            ::operator delete(block);
        }
    }

    // A record built from the arguments (brace-initialised, so aggregates work).
    template <class... Args> T* make(Args&&... args) {
        void* slot = take();
        FL_POOL_UNPOISON(slot, slotSize());
        return ::new (slot) T{std::forward<Args>(args)...};
    }

    void destroy(T* record) {
        if (!record) return;
        record->~T();
        auto* slot = reinterpret_cast<FreeSlot*>(record);
        slot->next = free_;
        free_ = slot;
        // Poisoned, so that a record read after it was freed still shows up under the sanitizer.
        FL_POOL_POISON(slot, slotSize());
    }

private:
    struct FreeSlot {
        FreeSlot* next;
    };

    static constexpr std::size_t slotSize() {
        static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned records are not pooled");
        std::size_t size = sizeof(T) < sizeof(FreeSlot) ? sizeof(FreeSlot) : sizeof(T);
        constexpr std::size_t align = alignof(T) < alignof(FreeSlot) ? alignof(FreeSlot) : alignof(T);
        return (size + align - 1) / align * align;
    }

    void* take() {
        if (free_) {
            FreeSlot* slot = free_;
            FL_POOL_UNPOISON(slot, slotSize());
            free_ = slot->next;
            return slot;
        }
        if (used_ == PerBlock || blocks_.empty()) {
            blocks_.reserve(blocks_.size() + 1); // so that the push below cannot throw
            blockBytes_ = slotSize() * PerBlock;
            blocks_.push_back(static_cast<FreeSlot*>(::operator new(blockBytes_)));
            FL_POOL_POISON(blocks_.back(), blockBytes_);
            used_ = 0;
        }
        return reinterpret_cast<unsigned char*>(blocks_.back()) + slotSize() * used_++;
    }

    std::vector<FreeSlot*> blocks_;
    std::size_t blockBytes_ = 0; // kept so that the destructor does not need T complete
    std::size_t used_ = 0;       // slots handed out of the last block
    FreeSlot* free_ = nullptr;
};
