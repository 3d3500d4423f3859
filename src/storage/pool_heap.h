// Small blocks for objects made by the hundred thousand and released
// together, such as the nodes of a tree. They are cut from 16 KiB pools, one
// block length per pool, and the pools from 1 MiB chunks taken from the
// reserve of kept regions (platform/memory.h). An emptied chunk goes back to
// that reserve, not to the system, so the next tree reuses pages already
// mapped instead of faulting fresh ones in. A block has no header: it is
// found by its address, and its pool says whose it is.
#pragma once

#include <cstddef>

namespace quorvane::storage {

struct PoolChunk;
struct Pool;

// Used by one thread at a time: whoever uses a heap serialises its
// allocate and release calls (for nodes, their interpreter's lock does).
class PoolHeap {
public:
    // Block lengths are rounded up to a multiple of kBlockAlignment, which
    // every block's address is aligned to; longer blocks belong elsewhere.
    static constexpr std::size_t kBlockAlignment = 16;
    static constexpr std::size_t kLargestBlock = 512;

    // Null when the system has no room.
    static PoolHeap* create() noexcept;

    // Ends its owner's use. The heap and its chunks go at once if no block
    // is held, else when the last one is released.
    void abandon() noexcept;

    // `bytes` (1 to kLargestBlock) of uninitialised storage; null when the
    // system has no room.
    void* allocate(std::size_t bytes) noexcept;

    // Releases a block that any heap's allocate returned.
    static void release(void* block) noexcept;

private:
    PoolHeap() = default;
    ~PoolHeap() = default;

    Pool* new_pool(std::size_t size_class) noexcept;
    PoolChunk* new_chunk() noexcept;
    void release_from(Pool* pool, void* block) noexcept;
    void retire_pool(Pool* pool) noexcept;
    void release_chunk(PoolChunk* chunk) noexcept;

    static constexpr std::size_t kClasses = kLargestBlock / kBlockAlignment;

    Pool* usable_[kClasses] = {};  // per block length, the pools with room
    PoolChunk* chunks_with_room_ = nullptr;
    std::size_t chunks_ = 0;
    bool abandoned_ = false;
};

}  // namespace quorvane::storage
