// Storage for the many small blocks one read makes (attribute tables).
// A read's first blocks come from the heap one by one, so a small tree keeps
// only what it uses. Past that, blocks are cut from chunks that grow with
// what the read has made so far, up to 2 MiB: the tables of a large document
// then fault in a few pages at a time, and their chunks go back to the
// reader's reserve of mapped regions, not to the heap, once the last block
// in them is freed. A tree keeps at most half again its tables' size in
// unused chunk ends.
#pragma once

#include <cstddef>

namespace quorvane::storage {

struct ArenaChunk;

// Hands out blocks from the chunk it is filling. Used by one thread at a
// time; the blocks it made may be freed from any thread, also after it is
// gone.
class BlockArena {
public:
    BlockArena() = default;
    BlockArena(const BlockArena&) = delete;
    BlockArena& operator=(const BlockArena&) = delete;
    ~BlockArena() { leave_chunk(); }

    // `bytes` of storage aligned for any scalar, released by free_block.
    // Throws std::bad_alloc when the system has no room.
    void* allocate(std::size_t bytes);

private:
    void* cut(std::size_t needed) noexcept;
    std::size_t next_chunk_length() const;
    void start_chunk(std::size_t length);
    void leave_chunk() noexcept;

    ArenaChunk* chunk_ = nullptr;
    std::size_t used_ = 0;        // bytes cut from the chunk, its header included
    std::size_t capacity_ = 0;    // the chunk's length
    std::size_t handed_out_ = 0;  // blocks cut from the chunk
    std::size_t made_bytes_ = 0;  // bytes of every block made so far, prefixes included
};

// A block of `bytes` from the heap, released by free_block. Throws
// std::bad_alloc when the system has no room.
void* allocate_heap_block(std::size_t bytes);

// Frees a block from allocate_heap_block or from any BlockArena.
void free_block(void* block) noexcept;

}  // namespace quorvane::storage
