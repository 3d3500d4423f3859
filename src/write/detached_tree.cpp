#include "write/detached_tree.h"

#include <algorithm>
#include <cstring>

namespace quorvane::write {

namespace {

// Blocks grow to this size and stay there; a text larger than a quarter of
// it gets a block of its own, so little room is left unused.
constexpr std::size_t largest_block_size = std::size_t{1} << 20;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product;
    return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

}  // namespace

SubtreeSize DetachedTree::measure(const DetachedNode& node) const {
    SubtreeSize size;
    size.bytes = saturating_add(1, node.name.size);  // <name
    for (const DetachedAttribute& attribute : attributes_of(node)) {
        size.bytes = saturating_add(  // ' name="value"'
            size.bytes,
            saturating_add(attribute.name.size, saturating_add(attribute.value.size, 4)));
    }
    if (!node.text.present() && node.child_count == 0) {
        size.bytes = saturating_add(size.bytes, 2);  // />
        return size;
    }
    size.bytes = saturating_add(size.bytes, saturating_add(node.text.size, 1));  // >text
    bool follows_text = node.text.present();
    for (const std::size_t child : children_of(node)) {
        const SubtreeSize& inner = sizes_[child];
        if (!follows_text) {
            // A line feed, then one level of indentation.
            size.bytes = saturating_add(size.bytes, 1);
            size.indents = saturating_add(size.indents, 1);
            size.breaks = saturating_add(size.breaks, 1);
        }
        follows_text = false;
        // One level deeper, each of the child's line breaks is indented once more.
        size.bytes = saturating_add(size.bytes, inner.bytes);
        size.indents = saturating_add(size.indents, saturating_add(inner.indents, inner.breaks));
        size.breaks = saturating_add(size.breaks, inner.breaks);
    }
    if (node.child_count != 0) {
        // The end tag's line, at the element's own depth.
        size.bytes = saturating_add(size.bytes, 1);
        size.breaks = saturating_add(size.breaks, 1);
    }
    size.bytes = saturating_add(size.bytes, saturating_add(node.name.size, 3));  // </name>
    return size;
}

std::optional<std::uint64_t> DetachedTree::unescaped_size(std::uint64_t indent,
                                                          std::uint64_t declaration_size) const {
    const SubtreeSize& root_size = sizes_.back();
    const std::uint64_t total = saturating_add(
        saturating_add(root_size.bytes, saturating_multiply(root_size.indents, indent)),
        declaration_size);
    if (total == UINT64_MAX) return std::nullopt;
    return total;
}

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
