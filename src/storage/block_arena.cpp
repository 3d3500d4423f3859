#include "src/storage/block_arena.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/memory.h"

namespace quorvane::storage {

namespace {

// Every block is preceded by the chunk it was cut from, or null for a heap
// block; so freeing needs no lookup.
constexpr std::size_t kPrefix = BlockArena::kAlignment;

// Blocks cut from the thread's scratch chunk before the first chunk of the
// arena's own: enough for the tables of most small documents, which then
// keep no chunk end.
constexpr std::size_t kScratchBytes = std::size_t{32} << 10;
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

// What a block of `bytes` takes from a chunk, its prefix included.
constexpr std::size_t cut_length(std::size_t bytes) {
    return kPrefix + (bytes + kPrefix - 1) / kPrefix * kPrefix;
}

// A reading thread's scratch chunk, and whether an arena cuts from it. The
// chunk's count keeps kFilling for as long as the thread keeps the chunk.
struct ThreadScratch {
    ArenaChunk* chunk = nullptr;
    bool in_use = false;

    ~ThreadScratch() {
        if (chunk) chunk->drop(ArenaChunk::kFilling);
    }
};

thread_local ThreadScratch thread_scratch;

}  // namespace

void* BlockArena::allocate(std::size_t bytes) {
    if (bytes > kLargestArenaBlock) return allocate_heap_block(bytes);
    const std::size_t needed = cut_length(bytes);
    if (used_ + needed > capacity_) {
        if (made_bytes_ + needed <= kScratchBytes) {
            made_bytes_ += needed;
            return cut_scratch(bytes, needed);
        }
        const std::size_t length = next_chunk_length();
        // A block longer than the next chunk could hold, early in a read,
        // comes from the heap: a chunk made to fit it would leave more
        // unused than the read has made.
        if (kChunkHeader + needed > length) {
            made_bytes_ += needed;
            return allocate_heap_block(bytes);
        }
        start_chunk(length);
    }
    made_bytes_ += needed;
    return cut(needed);
}

void* BlockArena::cut_scratch(std::size_t bytes, std::size_t needed) {
    if (!scratch_) {
        ThreadScratch& thread = thread_scratch;
        // Only one arena of a thread cuts from its chunk at a time.
        if (thread.in_use) return allocate_heap_block(bytes);
        if (!thread.chunk) {
            void* at = std::malloc(kChunkHeader + kScratchBytes);
            if (!at) throw std::bad_alloc();
            thread.chunk = new (at) ArenaChunk{ArenaChunk::kFilling, kChunkHeader + kScratchBytes};
        }
        thread.in_use = true;
        scratch_ = thread.chunk;
        scratch_used_ = kChunkHeader;
    }
    char* at = reinterpret_cast<char*>(scratch_) + scratch_used_;
    scratch_used_ += needed;
    ++scratch_cuts_;
    void* block = at + kPrefix;
    *prefix_of(block) = scratch_;
    return block;
}

// A chunk no block is alive in serves the thread's next read from its start;
// one a tree still holds blocks of (the read failed to settle them) goes
// with its last block, and the thread makes another.
void BlockArena::leave_scratch() noexcept {
    if (!scratch_) return;
    const std::uint64_t kept = scratch_cuts_ - scratch_moved_;
    ThreadScratch& thread = thread_scratch;
    if (scratch_->holds.fetch_add(kept, std::memory_order_acq_rel) + kept != ArenaChunk::kFilling) {
        thread.chunk = nullptr;
        scratch_->drop(ArenaChunk::kFilling);
    }
    thread.in_use = false;
    scratch_ = nullptr;
}

BlockArena::Settling::Settling(BlockArena& arena) noexcept
    : arena_(arena),
      // Its count is kFilling less the blocks freed so far, all on this thread.
      live_(arena.scratch_
                ? arena.scratch_cuts_ - arena.scratch_moved_ -
                      (ArenaChunk::kFilling - arena.scratch_->holds.load(std::memory_order_relaxed))
                : 0),
      length_(kChunkHeader) {}

BlockArena::Settling::~Settling() {
    if (to_) to_->drop(ArenaChunk::kFilling - moved_);
    if (single_ && moved_ == 0) free_block(single_);
    arena_.scratch_moved_ += moved_;
}

bool BlockArena::Settling::in_scratch(const void* block) const noexcept {
    const auto* start = reinterpret_cast<const char*>(arena_.scratch_);
    const auto* at = static_cast<const char*>(block);
    return start && at > start && at < start + arena_.scratch_used_;
}

void BlockArena::Settling::measure(const void* block, std::size_t bytes) noexcept {
    if (!in_scratch(block)) return;
    ++found_;
    length_ += cut_length(bytes);
}

void BlockArena::Settling::reserve() {
    if (found_ == 0) return;
    // One block alone goes to the heap: a chunk's header would cost more
    // than the block's own heap header does.
    if (found_ == 1) {
        single_ = allocate_heap_block(length_ - kChunkHeader - kPrefix);
        return;
    }
    void* at = std::malloc(length_);
    if (!at) throw std::bad_alloc();
    to_ = new (at) ArenaChunk{ArenaChunk::kFilling, length_};
    length_ = kChunkHeader;  // from here on, the bytes moved so far
}

void* BlockArena::Settling::move(void* block, std::size_t bytes) noexcept {
    if (!in_scratch(block)) return block;
    const std::size_t needed = cut_length(bytes);
    if (single_ && moved_ == 0) {
        std::memcpy(single_, block, needed - kPrefix);
        ++moved_;
        return single_;
    }
    if (!to_) return block;
    char* at = reinterpret_cast<char*>(to_) + length_;
    std::memcpy(at, prefix_of(block), needed);
    length_ += needed;
    ++moved_;
    void* moved = at + kPrefix;
    *prefix_of(moved) = to_;
    return moved;
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
