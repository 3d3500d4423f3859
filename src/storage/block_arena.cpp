#include "src/storage/block_arena.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/memory.h"

namespace quorvane::storage {

namespace {

// Every block is preceded by the chunk it was cut from, or null for a heap
// block; so freeing needs no lookup.
constexpr std::size_t kPrefix = alignof(std::max_align_t);

// Blocks made one by one from the heap before the first chunk: enough for
// the tables of most small documents, which then keep no chunk end.
constexpr std::size_t kHeapBlocksBytes = std::size_t{32} << 10;
// Chunk lengths are powers of two in this range, so a chunk kept for the
// next read fits the next read's chunk of the same rank, whatever its
// document. Chunks of the largest length are huge pages where the system
// gives them; shorter ones from kPagesChunkBytes on are ordinary pages, so
// a tree that fills a small part of one never keeps a huge page; both are
// mapped on their own and kept for the next read. Shorter ones come from
// the heap.
constexpr std::size_t kSmallestChunkBytes = std::size_t{16} << 10;
constexpr std::size_t kPagesChunkBytes = std::size_t{64} << 10;
constexpr std::size_t kLargestChunkBytes = platform::kLargeAllocationBytes;
// Larger blocks come from the heap: a chunk would waste too much of its end.
constexpr std::size_t kLargestArenaBlock = std::size_t{64} << 10;

}  // namespace

struct ArenaChunk {
    // Blocks not yet freed, plus kFilling while an arena cuts from it: the
    // count cannot reach zero before the arena has said how many it made.
    std::atomic<std::uint64_t> holds;
    std::size_t length;

    static constexpr std::uint64_t kFilling = std::uint64_t{1} << 62;

    void drop(std::uint64_t count) noexcept {
        if (holds.fetch_sub(count, std::memory_order_acq_rel) != count) return;
        const std::size_t bytes = length;
        this->~ArenaChunk();
        if (bytes == kLargestChunkBytes) {
            platform::release_large(this, bytes);
        } else if (bytes >= kPagesChunkBytes) {
            platform::release_pages(this, bytes);
        } else {
            std::free(this);
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
    if (used_ + needed > capacity_) {
        const std::size_t length = next_chunk_length();
        // A block longer than the next chunk could hold, early in a read,
        // comes from the heap too: a chunk made to fit it would leave more
        // unused than the read has made.
        if (made_bytes_ + needed <= kHeapBlocksBytes || kChunkHeader + needed > length) {
            made_bytes_ += needed;
            return allocate_heap_block(bytes);
        }
        start_chunk(length);
    }
    made_bytes_ += needed;
    return cut(needed);
}

void* BlockArena::cut(std::size_t needed) noexcept {
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

// Each chunk is at most half as long as all blocks made before it, so the
// unused end a tree keeps is never more than half of what it uses.
std::size_t BlockArena::next_chunk_length() const {
    return std::clamp(std::bit_floor(made_bytes_ / 2), kSmallestChunkBytes, kLargestChunkBytes);
}

void BlockArena::start_chunk(std::size_t length) {
    leave_chunk();
    void* at;
    if (length == kLargestChunkBytes) {
        at = platform::allocate_large(length);
    } else if (length >= kPagesChunkBytes) {
        at = platform::allocate_pages(length);
    } else if (!(at = std::malloc(length))) {
        throw std::bad_alloc();
    }
    chunk_ = new (at) ArenaChunk{ArenaChunk::kFilling, length};
    used_ = kChunkHeader;
    capacity_ = length;
}

void BlockArena::leave_chunk() noexcept {
    if (!chunk_) return;
    chunk_->drop(ArenaChunk::kFilling - handed_out_);
    chunk_ = nullptr;
    used_ = 0;
    capacity_ = 0;
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

}  // namespace quorvane::storage
