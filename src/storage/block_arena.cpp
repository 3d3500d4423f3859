#include "storage/block_arena.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "structural/index/large_pages.h"

namespace quorvane {

namespace {

// Every block is preceded by the chunk it was cut from, or null for a heap
// block; so freeing needs no lookup.
constexpr std::size_t kPrefix = alignof(std::max_align_t);

constexpr std::size_t kChunkBytes = structural::kLargeAllocationBytes;
// Larger blocks come from the heap: a chunk would waste too much of its end.
constexpr std::size_t kLargestArenaBlock = std::size_t{64} << 10;

}  // namespace

struct ArenaChunk {
    // Blocks not yet freed, plus kFilling while an arena cuts from it: the
    // count cannot reach zero before the arena has said how many it made.
    std::atomic<std::uint64_t> holds;

    static constexpr std::uint64_t kFilling = std::uint64_t{1} << 62;

    void drop(std::uint64_t count) noexcept {
        if (holds.fetch_sub(count, std::memory_order_acq_rel) == count) {
            this->~ArenaChunk();
            structural::release_large(this, kChunkBytes);
        }
    }
};

namespace {

constexpr std::size_t kChunkHeader = (sizeof(ArenaChunk) + kPrefix - 1) / kPrefix * kPrefix;

void** prefix_of(void* block) { return static_cast<void**>(block) - kPrefix / sizeof(void*); }

}  // namespace

void* BlockArena::allocate(std::size_t bytes) {
    if (bytes > kLargestArenaBlock) return allocate_heap_block(bytes);
    const std::size_t needed = kPrefix + (bytes + kPrefix - 1) / kPrefix * kPrefix;
    if (!chunk_ || used_ + needed > kChunkBytes) {
        leave_chunk();
        chunk_ = new (structural::allocate_large(kChunkBytes)) ArenaChunk{ArenaChunk::kFilling};
        used_ = kChunkHeader;
    }
    char* at = reinterpret_cast<char*>(chunk_) + used_;
    used_ += needed;
    // Blocks are cut in order from memory no cache holds yet; asking for
    // the lines ahead hides the wait for them.
    __builtin_prefetch(at + 512, 1);
    ++handed_out_;
    void* block = at + kPrefix;
    *prefix_of(block) = chunk_;
    return block;
}

void BlockArena::leave_chunk() noexcept {
    if (!chunk_) return;
    chunk_->drop(ArenaChunk::kFilling - handed_out_);
    chunk_ = nullptr;
    handed_out_ = 0;
}

void* allocate_heap_block(std::size_t bytes) {
    void* at = std::malloc(kPrefix + bytes);
    if (!at) throw std::bad_alloc();
    void* block = static_cast<char*>(at) + kPrefix;
    *prefix_of(block) = nullptr;
    return block;
}

void free_block(void* block) noexcept {
    void** prefix = prefix_of(block);
    if (*prefix) {
        static_cast<ArenaChunk*>(*prefix)->drop(1);
    } else {
        std::free(prefix);
    }
}

}  // namespace quorvane
