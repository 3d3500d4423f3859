#include "src/write/detached_tree.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform/memory.h"
#include "src/storage/ascii.h"

namespace quorvane::write {

namespace {

// Blocks grow to this size and stay there; a request larger than a quarter
// of it gets a block of its own, so little room is left unused.
constexpr std::size_t kLargestBlockSize = platform::kLargeAllocationBytes;

// Past this, the next block is the largest, a kept region.
constexpr std::size_t kLargestHeapBlockSize = platform::kLargestHeapWorkingBytes;

bool is_mapped(std::size_t size) { return size > kLargestHeapBlockSize; }

}  // namespace

DetachedBlocks::DetachedBlocks(DetachedBlocks&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      cursor_(std::exchange(other.cursor_, nullptr)),
      room_(std::exchange(other.room_, 0)),
      next_block_size_(other.next_block_size_) {
    other.blocks_.clear();
}

DetachedBlocks::~DetachedBlocks() {
    for (const Block& block : blocks_) {
        if (is_mapped(block.size)) {
            platform::release_large(block.at, block.size);
        } else {
            std::free(block.at);
        }
    }
}

char* DetachedBlocks::new_block(std::size_t size) {
    blocks_.reserve(blocks_.size() + 1);
    char* at = is_mapped(size) ? static_cast<char*>(platform::allocate_large(size))
                               : static_cast<char*>(std::malloc(size));
    if (!at) throw std::bad_alloc();
    blocks_.push_back({at, size});
    return at;
}

void* DetachedBlocks::allocate_past_block(std::size_t size) {
    if (size > kLargestBlockSize / 4) return new_block(size);
    // A request longer than the next block's usual size gets a block of
    // its own length.
    const std::size_t block_size = std::max(next_block_size_, size);
    cursor_ = new_block(block_size);
    room_ = block_size;
    next_block_size_ =
        next_block_size_ >= kLargestHeapBlockSize ? kLargestBlockSize : next_block_size_ * 2;
    void* at = cursor_;
    cursor_ += size;
    room_ -= size;
    return at;
}

DetachedText DetachedTree::keep_any(const storage::NodeString& text) {
    storage::SourceBuffer* source = text.span_source();
    if (source != last_source_ && source) [[unlikely]]
        hold(source);
    std::string_view bytes;
    if (!text.checked_view(bytes)) [[unlikely]] {
        if (!broken_) broken_ = text.resolve().error();
        return {"", 0};
    }
    return {source ? bytes.data() : copy(bytes), bytes.size()};
}

const char* DetachedTree::copy(std::string_view bytes) {
    // An empty text still needs an address, which tells it from an absent one.
    if (bytes.empty()) return "";
    char* placed = static_cast<char*>(blocks_.allocate(bytes.size()));
    std::memcpy(placed, bytes.data(), bytes.size());
    known_ascii_ = known_ascii_ && storage::is_ascii(bytes);
    return placed;
}

void DetachedTree::hold(storage::SourceBuffer* source) {
    known_ascii_ = known_ascii_ && source->known_ascii();
    last_source_ = source;
    last_source_text_ = source->text();
    if (!held_.insert(source).second) return;
    sources_.emplace_back();
    source->acquire();
    sources_.back() = storage::SourceRef::adopt(source);
}

}  // namespace quorvane::write
