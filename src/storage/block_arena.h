// Storage for the many small blocks one read makes (attribute tables).
// A read's first blocks are cut from a scratch chunk its thread keeps, with
// no call to the heap; no tree may keep that chunk, so before the read ends
// the blocks still alive move into one heap chunk of exactly their length,
// and a small tree keeps only what it uses. Past that, blocks are cut from
// chunks that grow with what the read has made so far, up to 2 MiB: the
// tables of a large document then fault in a few pages at a time, and their
// chunks go back to the reader's reserve of mapped regions, not to the heap,
// once the last block in them is freed. A tree keeps at most half again its
// tables' size in unused chunk ends.
#pragma once

#include <cstddef>
#include <cstdint>

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
    ~BlockArena() {
        leave_chunk();
        leave_scratch();
    }

    // Blocks are aligned for the tables' words, no more: a block's prefix
    // is one word.
    static constexpr std::size_t kAlignment = alignof(std::uint64_t);

    // `bytes` of storage aligned to kAlignment, released by free_block.
    // Throws std::bad_alloc when the system has no room.
    void* allocate(std::size_t bytes);

    // Moves the arena's blocks out of the thread's scratch chunk. The owners
    // show it every block still alive twice, in the order the blocks were
    // made: first to measure, then to move. Each walk may stop once the
    // last block in the scratch chunk has been shown (found_all, moved_all).
    class Settling {
    public:
        explicit Settling(BlockArena& arena) noexcept;
        Settling(const Settling&) = delete;
        Settling& operator=(const Settling&) = delete;
        // Hands the moved blocks to their new chunk.
        ~Settling();

        // No block alive was cut from the scratch chunk.
        bool nothing_to_move() const noexcept { return live_ == 0; }
        bool found_all() const noexcept { return found_ == live_; }
        bool moved_all() const noexcept { return moved_ == found_; }

        // First walk: a block of `bytes` (as asked of allocate).
        void measure(const void* block, std::size_t bytes) noexcept;
        // Between the walks: the chunk the blocks move to. Throws
        // std::bad_alloc when the system has no room.
        void reserve();
        // Second walk: where the block lives from now on.
        void* move(void* block, std::size_t bytes) noexcept;

    private:
        bool in_scratch(const void* block) const noexcept;

        BlockArena& arena_;
        std::size_t live_;  // blocks alive in the scratch chunk
        std::size_t found_ = 0;
        std::size_t moved_ = 0;
        std::size_t length_;  // of the chunk the blocks move to
        ArenaChunk* to_ = nullptr;
        void* single_ = nullptr;  // the heap block one block alone moves to
    };

private:
    void* cut(std::size_t needed) noexcept;
    void* cut_scratch(std::size_t bytes, std::size_t needed);
    void leave_scratch() noexcept;
    std::size_t next_chunk_length() const;
    void start_chunk(std::size_t length);
    void leave_chunk() noexcept;

    ArenaChunk* chunk_ = nullptr;
    std::size_t used_ = 0;           // bytes cut from the chunk, its header included
    std::size_t capacity_ = 0;       // the chunk's length
    std::size_t handed_out_ = 0;     // blocks cut from the chunk
    std::size_t made_bytes_ = 0;     // bytes of every block made so far, prefixes included
    ArenaChunk* scratch_ = nullptr;  // the thread's scratch chunk, while cutting from it
    std::size_t scratch_used_ = 0;   // bytes cut from it, its header included
    // Blocks cut from it, and moved out of it. Frees of its blocks during
    // the read, all on this thread, go to its count at once; cuts and moves
    // are added when the arena leaves it.
    std::size_t scratch_cuts_ = 0;
    std::size_t scratch_moved_ = 0;
};

// A block of `bytes` from the heap, released by free_block. Throws
// std::bad_alloc when the system has no room.
void* allocate_heap_block(std::size_t bytes);

// Frees a block from allocate_heap_block or from any BlockArena.
void free_block(void* block) noexcept;

}  // namespace quorvane::storage
