#include "write/detached_tree.h"

#include <algorithm>
#include <cstring>

namespace quorvane::write {

namespace {

// Blocks grow to this size and stay there; a text larger than a quarter of
// it gets a block of its own, so little room is left unused.
constexpr std::size_t largest_block_size = std::size_t{1} << 20;

}  // namespace

const char* DetachedTree::copy(std::string_view bytes) {
    // An empty text still needs an address, which tells it from an absent one.
    if (bytes.empty()) return "";
    if (bytes.size() > block_room_) {
        if (bytes.size() > largest_block_size / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(bytes.size()));
            std::memcpy(blocks_.back().get(), bytes.data(), bytes.size());
            return blocks_.back().get();
        }
        // A string longer than the next block's usual size gets a block of
        // its own length.
        const std::size_t size = std::max(next_block_size_, bytes.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        block_cursor_ = blocks_.back().get();
        block_room_ = size;
        next_block_size_ = std::min(next_block_size_ * 2, largest_block_size);
    }
    char* placed = block_cursor_;
    std::memcpy(placed, bytes.data(), bytes.size());
    block_cursor_ += bytes.size();
    block_room_ -= bytes.size();
    return placed;
}

void DetachedTree::hold(SourceBuffer* source) {
    last_source_ = source;
    if (!held_.insert(source).second) return;
    sources_.emplace_back();
    source->acquire();
    sources_.back() = SourceRef::adopt(source);
}

}  // namespace quorvane::write
