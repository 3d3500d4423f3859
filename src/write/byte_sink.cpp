#include "src/write/byte_sink.h"

#include <cstdlib>
#include <new>

#include "platform/memory.h"

namespace quorvane::write {

namespace {

// A larger block is a region the reserve keeps for the next call.
bool is_mapped(std::size_t capacity) { return capacity > platform::kLargestHeapWorkingBytes; }

char* allocate_block(std::uint64_t capacity) {
    if (capacity > SIZE_MAX / 2) return nullptr;
    if (!is_mapped(capacity)) return static_cast<char*>(std::malloc(capacity == 0 ? 1 : capacity));
    try {
        return static_cast<char*>(platform::allocate_large(capacity));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void free_block(char* block, std::size_t capacity) {
    if (is_mapped(capacity)) {
        platform::release_large(block, capacity);
    } else {
        std::free(block);
    }
}

}  // namespace

ByteSink::ByteSink(std::uint64_t capacity) : block_(allocate_block(capacity)) {
    cursor_ = block_;
    end_ = block_ ? block_ + capacity : nullptr;
}

ByteSink::~ByteSink() {
    if (block_ && owned_) free_block(block_, static_cast<std::size_t>(end_ - block_));
}

bool ByteSink::grow(std::uint64_t needed) {
    const std::uint64_t used = static_cast<std::uint64_t>(cursor_ - block_);
    const std::uint64_t capacity = static_cast<std::uint64_t>(end_ - block_);
    if (needed > SIZE_MAX / 2 - used) return false;
    const std::uint64_t grown = std::max(2 * capacity, used + needed);
    char* larger = allocate_block(grown);
    if (!larger) return false;
    std::memcpy(larger, block_, used);
    if (owned_) free_block(block_, capacity);
    owned_ = true;
    block_ = larger;
    cursor_ = larger + used;
    end_ = larger + grown;
    return true;
}

}  // namespace quorvane::write
