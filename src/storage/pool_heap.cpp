#include "src/storage/pool_heap.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/memory.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVANE_POOLS_POISONED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVANE_POOLS_POISONED 1
#endif
#endif
#ifdef QUORVANE_POOLS_POISONED
#include <sanitizer/asan_interface.h>
#endif

namespace quorvane::storage {

namespace {

// The interpreter's own small-object pools have this length, so a tree
// keeps as many bytes per node here as it would there.
constexpr std::size_t kPoolBytes = std::size_t{16} << 10;
// A multiple of the page and of kPoolBytes: emptied chunks are kept by the
// reserve for a request of the same length.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// The pools a freshly mapped chunk's pages are faulted in for at a time, in
// one system call: a trap per fresh page costs more than clearing it, and
// trees held by the thousand fill chunk after chunk. A chunk kept from an
// earlier use mostly has its pages, and asking would only cost the call.
constexpr std::size_t kFaultAheadBytes = 4 * kPoolBytes;

// A block not handed out is poisoned under the address sanitizer, so a use
// after release is reported as it would be with the C library's heap.
void hide([[maybe_unused]] void* at, [[maybe_unused]] std::size_t bytes) noexcept {
#ifdef QUORVANE_POOLS_POISONED
    ASAN_POISON_MEMORY_REGION(at, bytes);
#endif
}
void show([[maybe_unused]] void* at, [[maybe_unused]] std::size_t bytes) noexcept {
#ifdef QUORVANE_POOLS_POISONED
    ASAN_UNPOISON_MEMORY_REGION(at, bytes);
#endif
}

template <class T>
void link_front(T*& head, T* item) noexcept {
    item->previous = nullptr;
    item->next = head;
    if (head) head->previous = item;
    head = item;
}

template <class T>
void unlink(T*& head, T* item) noexcept {
    if (item->previous) {
        item->previous->next = item->next;
    } else {
        head = item->next;
    }
    if (item->next) item->next->previous = item->previous;
}

}  // namespace

// At the start of each chunk; its pools begin at the first pool boundary
// past it.
struct PoolChunk {
    PoolChunk* next;  // in the heap's chunks with room
    PoolChunk* previous;
    Pool* free_pools;  // emptied pools, linked by `next`
    char* untouched;   // the first pool never used
    char* faulted;     // past the pools faulted in ahead; the end for a kept chunk
    char* end;         // past the last whole pool
    std::size_t pools_in_use;

    bool has_room() const noexcept { return free_pools || untouched != end; }
};

// At the start of each pool: every block in it is found by its address.
struct alignas(64) Pool {
    PoolHeap* heap;
    PoolChunk* chunk;
    Pool* next;  // in the heap's pools with room, or the chunk's free pools
    Pool* previous;
    void* free_blocks;        // released blocks, each holding the next
    std::uint32_t untouched;  // offset of the first block never handed out
    std::uint32_t blocks_in_use;
    std::uint32_t block_bytes;
    std::uint32_t size_class;

    bool has_room() const noexcept { return free_blocks || untouched + block_bytes <= kPoolBytes; }
};

namespace {

static_assert(sizeof(Pool) % PoolHeap::kBlockAlignment == 0);
static_assert(kChunkBytes % kPoolBytes == 0 && kChunkBytes % platform::kPageBytes == 0);

Pool* pool_of(void* block) noexcept {
    return reinterpret_cast<Pool*>(reinterpret_cast<std::uintptr_t>(block) &
                                   ~std::uintptr_t{kPoolBytes - 1});
}

}  // namespace

PoolHeap* PoolHeap::create() noexcept { return new (std::nothrow) PoolHeap(); }

void PoolHeap::abandon() noexcept {
    abandoned_ = true;
    for (PoolChunk* chunk = chunks_with_room_; chunk;) {
        PoolChunk* next = chunk->next;
        if (chunk->pools_in_use == 0) release_chunk(chunk);
        chunk = next;
    }
    if (chunks_ == 0) delete this;
}

void* PoolHeap::allocate(std::size_t bytes) noexcept {
    const std::size_t size_class = (bytes - 1) / kBlockAlignment;
    Pool* pool = usable_[size_class];
    if (!pool && !(pool = new_pool(size_class))) return nullptr;
    void* block = pool->free_blocks;
    if (block) {
        show(block, pool->block_bytes);
        pool->free_blocks = *static_cast<void**>(block);
    } else {
        block = reinterpret_cast<char*>(pool) + pool->untouched;
        pool->untouched += pool->block_bytes;
        show(block, pool->block_bytes);
    }
    ++pool->blocks_in_use;
    if (!pool->has_room()) unlink(usable_[size_class], pool);
    return block;
}

void PoolHeap::release(void* block) noexcept {
    Pool* pool = pool_of(block);
    pool->heap->release_from(pool, block);
}

void PoolHeap::release_from(Pool* pool, void* block) noexcept {
    const bool had_room = pool->has_room();
    *static_cast<void**>(block) = pool->free_blocks;
    pool->free_blocks = block;
    hide(block, pool->block_bytes);
    if (--pool->blocks_in_use == 0) {
        if (had_room) unlink(usable_[pool->size_class], pool);
        retire_pool(pool);
    } else if (!had_room) {
        link_front(usable_[pool->size_class], pool);
    }
}

Pool* PoolHeap::new_pool(std::size_t size_class) noexcept {
    PoolChunk* chunk = chunks_with_room_;
    if (!chunk && !(chunk = new_chunk())) return nullptr;
    Pool* pool = chunk->free_pools;
    if (pool) {
        chunk->free_pools = pool->next;
    } else {
        if (chunk->untouched == chunk->faulted) {
            chunk->faulted = std::min(chunk->end, chunk->faulted + kFaultAheadBytes);
            platform::prefault_for_writing(chunk->untouched, chunk->faulted);
        }
        pool = reinterpret_cast<Pool*>(chunk->untouched);
        chunk->untouched += kPoolBytes;
    }
    ++chunk->pools_in_use;
    if (!chunk->has_room()) unlink(chunks_with_room_, chunk);
    const auto block_bytes = static_cast<std::uint32_t>((size_class + 1) * kBlockAlignment);
    new (pool) Pool{this,    chunk,       nullptr,
                    nullptr, nullptr,     sizeof(Pool),
                    0,       block_bytes, static_cast<std::uint32_t>(size_class)};
    hide(pool + 1, kPoolBytes - sizeof(Pool));
    link_front(usable_[size_class], pool);
    return pool;
}

PoolChunk* PoolHeap::new_chunk() noexcept {
    void* at;
    bool freshly_mapped;
    try {
        at = platform::allocate_pages(kChunkBytes, freshly_mapped);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    // A kept chunk may still be poisoned from its last use.
    show(at, kChunkBytes);
    const auto start = reinterpret_cast<std::uintptr_t>(at);
    const std::uintptr_t first_pool =
        (start + sizeof(PoolChunk) + kPoolBytes - 1) & ~std::uintptr_t{kPoolBytes - 1};
    const std::uintptr_t end =
        first_pool + (start + kChunkBytes - first_pool) / kPoolBytes * kPoolBytes;
    auto* chunk = new (at) PoolChunk{nullptr,
                                     nullptr,
                                     nullptr,
                                     reinterpret_cast<char*>(first_pool),
                                     reinterpret_cast<char*>(freshly_mapped ? first_pool : end),
                                     reinterpret_cast<char*>(end),
                                     0};
    ++chunks_;
    link_front(chunks_with_room_, chunk);
    return chunk;
}

// An emptied pool serves any block length next. Its chunk goes back to the
// reserve once empty, unless it is the only one with room: a tree made and
// dropped over and over then keeps reusing it.
void PoolHeap::retire_pool(Pool* pool) noexcept {
    PoolChunk* chunk = pool->chunk;
    const bool chunk_had_room = chunk->has_room();
    pool->next = chunk->free_pools;
    chunk->free_pools = pool;
    --chunk->pools_in_use;
    if (!chunk_had_room) link_front(chunks_with_room_, chunk);
    if (chunk->pools_in_use != 0) return;
    if (!abandoned_ && chunks_with_room_ == chunk && !chunk->next) return;
    release_chunk(chunk);
    if (abandoned_ && chunks_ == 0) delete this;
}

void PoolHeap::release_chunk(PoolChunk* chunk) noexcept {
    unlink(chunks_with_room_, chunk);
    --chunks_;
    // The reserve may hand it to any user next.
    show(chunk, kChunkBytes);
    platform::release_pages(chunk, kChunkBytes);
}

}  // namespace quorvane::storage
