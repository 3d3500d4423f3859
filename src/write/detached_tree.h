// A copy of a node tree that refers to no interpreter object, made while
// the interpreter lock is held and written after it is released.
//
// Each node is copied with its attributes and room for the addresses of its
// children into blocks that never move; a parent before its children, so
// the writer reads the blocks front to back. A node that stands in several
// places is copied once and named by each of them, so a tree that shares a
// node at every level costs a copy the size of its distinct nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/native_failure.h"
#include "src/storage/attribute_map.h"
#include "src/storage/node_string.h"
#include "src/storage/source_buffer.h"
#include "src/write/names.h"

namespace quorvane::write {

// Bytes the tree keeps alive: a span of a source buffer the tree holds, or
// a copy in the tree's own blocks.
struct DetachedText {
    const char* data = nullptr;  // null only for an absent element text
    std::uint64_t size = 0;

    bool present() const { return data != nullptr; }
    std::string_view view() const { return {data, static_cast<std::size_t>(size)}; }
};

struct DetachedAttribute {
    DetachedText name;
    DetachedText value;
};

// A node with its attributes and then the addresses of its children just
// after it, in one block.
struct DetachedNode {
    DetachedText name;
    DetachedText text;
    std::size_t child_count;
    // The bytes of all attribute names and values, which bound what the
    // attributes take written without counting them one by one.
    std::uint64_t attribute_bytes;
    std::uint32_t attribute_count;
    // Set by the copier on a node it names in more than one place, which
    // the walk that measures the tree then measures once.
    bool shared;

    std::span<const DetachedAttribute> attribute_list() const {
        return {attributes(), attribute_count};
    }
    std::span<const DetachedNode* const> child_list() const {
        return {const_cast<DetachedNode*>(this)->child_slots(), child_count};
    }
    // Where the copier fills in the children.
    const DetachedNode** child_slots() {
        return reinterpret_cast<const DetachedNode**>(attributes() + attribute_count);
    }

private:
    DetachedAttribute* attributes() const {
        return reinterpret_cast<DetachedAttribute*>(const_cast<DetachedNode*>(this) + 1);
    }
};
static_assert(alignof(DetachedAttribute) == alignof(DetachedNode) &&
              sizeof(DetachedNode) % alignof(const DetachedNode*) == 0);

// Blocks cut front to back, each twice as long as the one before up to
// 2 MiB; those that long are mapped regions the reader's reserve keeps for
// the next call, so a large tree does not fault in fresh pages.
class DetachedBlocks {
public:
    DetachedBlocks() = default;
    DetachedBlocks(DetachedBlocks&& other) noexcept;
    DetachedBlocks& operator=(DetachedBlocks&&) = delete;
    ~DetachedBlocks();

    // `size` bytes aligned for any record of the tree; throws
    // std::bad_alloc when memory is short.
    void* allocate(std::size_t size) {
        size = (size + alignof(DetachedNode) - 1) & ~(alignof(DetachedNode) - 1);
        if (size > room_) [[unlikely]]
            return allocate_past_block(size);
        void* at = cursor_;
        cursor_ += size;
        room_ -= size;
        return at;
    }

private:
    struct Block {
        char* at;
        std::size_t size;
    };
    void* allocate_past_block(std::size_t size);
    char* new_block(std::size_t size);

    std::vector<Block> blocks_;
    char* cursor_ = nullptr;
    std::size_t room_ = 0;
    std::size_t next_block_size_ = 4096;
};

class DetachedTree {
public:
    DetachedTree() = default;
    // A tree for a str watches whether its strings are ASCII; one for a
    // file has no use for knowing and looks at no copy.
    explicit DetachedTree(bool watch_ascii) : known_ascii_(watch_ascii) {}
    DetachedTree(DetachedTree&&) = default;
    DetachedTree& operator=(DetachedTree&&) = delete;

    // Copies one node, with room for `child_count` children for the caller
    // to fill in. Strings that are spans share their buffer, of which the
    // tree holds one reference however many spans read it; other strings
    // are copied. A span that fails its check is noted in broken() and
    // stands as an empty string; a name the writer cannot write is noted in
    // refused(). Throws std::bad_alloc when memory is short.
    DetachedNode* add_node(const storage::NodeString& name, const storage::AttributeMap& attrs,
                           const storage::OptionalString& text, std::size_t child_count) {
        const std::size_t attribute_count = attrs.size();
        auto* node = static_cast<DetachedNode*>(
            blocks_.allocate(sizeof(DetachedNode) + attribute_count * sizeof(DetachedAttribute) +
                             child_count * sizeof(DetachedNode*)));
        node->name = keep(name);
        if (auto why = unwritable_element_name(node->name.view())) [[unlikely]]
            refuse(std::move(*why));
        node->text = text ? keep(*text) : DetachedText{};
        node->child_count = child_count;
        node->attribute_count = static_cast<std::uint32_t>(attribute_count);
        node->shared = false;
        auto* attribute = reinterpret_cast<DetachedAttribute*>(node + 1);
        std::uint64_t attribute_bytes = 0;
        for (const storage::AttributeMap::Entry& entry : attrs) {
            *attribute = {keep(entry.key), keep(entry.value)};
            if (auto why = unwritable_attribute_name(attribute->name.view(), node->name.view()))
                [[unlikely]]
                refuse(std::move(*why));
            attribute_bytes += attribute->name.size + attribute->value.size;
            ++attribute;
        }
        node->attribute_bytes = attribute_bytes;
        return node;
    }

    // The node written first; set once every child of every node is filled in.
    void set_root(const DetachedNode* root) { root_ = root; }
    const DetachedNode& root() const { return *root_; }

    // The first broken span met, if any.
    const std::optional<NativeFailure>& broken() const { return broken_; }
    // Why the first name that cannot be written cannot be, if one was met.
    const std::optional<std::string>& refused() const { return refused_; }

    // Whether every string is known to be ASCII: the tree watches, each
    // span's buffer is known to be, and each copy was looked at.
    bool known_ascii() const { return known_ascii_; }

private:
    DetachedText keep(const storage::NodeString& text) {
        // Most strings are narrow spans of the buffer the last one read.
        if (text.is_narrow_span_of(last_source_)) [[likely]] {
            std::string_view bytes;
            if (text.checked_narrow_view(last_source_text_, bytes)) [[likely]]
                return {bytes.data(), bytes.size()};
        }
        return keep_any(text);
    }
    // Any other string, and the failures.
    DetachedText keep_any(const storage::NodeString& text);
    void refuse(std::string why) {
        if (!refused_) refused_ = std::move(why);
    }
    const char* copy(std::string_view bytes);
    void hold(storage::SourceBuffer* source);

    DetachedBlocks blocks_;
    const DetachedNode* root_ = nullptr;
    std::vector<storage::SourceRef> sources_;
    std::unordered_set<storage::SourceBuffer*> held_;
    storage::SourceBuffer* last_source_ = nullptr;
    std::string_view last_source_text_;
    std::optional<NativeFailure> broken_;
    std::optional<std::string> refused_;
    bool known_ascii_ = false;
};

}  // namespace quorvane::write
