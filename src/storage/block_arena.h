// Storage for the many small blocks one read makes (attribute tables).
// Taking each from the heap would leave the heap to give their pages back
// when the tree is released, and the next read to fault them in again; here
// they are cut from 2 MiB chunks that return to the reader's reserve of
// large regions once the last block in them is freed.
#pragma once

#include <cstddef>

namespace quorvane {

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
    void leave_chunk() noexcept;

    ArenaChunk* chunk_ = nullptr;
    std::size_t used_ = 0;        // bytes cut from the chunk, its header included
    std::size_t handed_out_ = 0;  // blocks cut from the chunk
};

// A block of `bytes` from the heap, released by free_block. Throws
// std::bad_alloc when the system has no room.
void* allocate_heap_block(std::size_t bytes);

// Frees a block from allocate_heap_block or from any BlockArena.
void free_block(void* block) noexcept;

}  // namespace quorvane
