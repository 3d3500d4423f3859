// A copy of a node tree that refers to no interpreter object, made while
// the interpreter lock is held and written after it is released.
//
// The copy is flat: nodes, attributes and child lists are three arrays, and
// a child list names nodes by index. A node that stands in several places is
// copied once and named by each of them, so a tree that shares a node at
// every level costs a copy the size of its distinct nodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/memory.h"
#include "storage/attribute_map.h"
#include "storage/internal_failure.h"
#include "storage/node_string.h"
#include "storage/source_buffer.h"

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

struct DetachedNode {
    DetachedText name;
    DetachedText text;
    std::size_t first_attribute = 0;  // into DetachedTree::attributes
    std::size_t attribute_count = 0;
    std::size_t first_child = 0;  // into DetachedTree::child_ids
    std::size_t child_count = 0;
};

class DetachedTree {
public:
    DetachedTree() = default;
    DetachedTree(DetachedTree&&) = default;
    DetachedTree& operator=(DetachedTree&&) = default;

    // Copies one node whose children are already in the tree, at the indices
    // given, and returns its index. Strings that are spans share their
    // buffer, of which the tree holds one reference however many spans read
    // it; other strings are copied. A span that fails its check is noted in
    // broken() and stands as an empty string.
    std::size_t add_node(const NodeString& name, const AttributeMap& attrs,
                         const OptionalString& text, std::span<const std::size_t> children) {
        const std::size_t index = nodes.size();
        DetachedNode& node = nodes.emplace_back();
        node.name = keep(name);
        node.text = text ? keep(*text) : DetachedText{};
        node.first_attribute = attributes.size();
        node.attribute_count = attrs.size();
        for (const AttributeMap::Entry& entry : attrs)
            attributes.push_back({keep(entry.key), keep(entry.value)});
        node.first_child = child_ids.size();
        node.child_count = children.size();
        if (!children.empty()) child_ids.insert(child_ids.end(), children.begin(), children.end());
        return index;
    }

    // The first broken span met, if any.
    const std::optional<InternalFailure>& broken() const { return broken_; }

    // Every node before the nodes whose child lists name it: the root is the
    // last one. Large arrays take mapped regions that the reader's reserve
    // keeps for the next call, so a large tree does not fault in fresh pages.
    platform::RegionVector<DetachedNode> nodes;
    platform::RegionVector<DetachedAttribute> attributes;
    platform::RegionVector<std::size_t> child_ids;

    const DetachedNode& root() const { return nodes.back(); }
    std::span<const std::size_t> children_of(const DetachedNode& node) const {
        return {child_ids.data() + node.first_child, node.child_count};
    }
    std::span<const DetachedAttribute> attributes_of(const DetachedNode& node) const {
        return {attributes.data() + node.first_attribute, node.attribute_count};
    }

private:
    DetachedText keep(const NodeString& text) {
        SourceBuffer* source = text.span_source();
        if (source != last_source_ && source) [[unlikely]]
            hold(source);
        auto bytes = text.resolve();
        if (!bytes) [[unlikely]] {
            if (!broken_) broken_ = std::move(bytes.error());
            return {"", 0};
        }
        return {source ? bytes->data() : copy(*bytes), bytes->size()};
    }
    const char* copy(std::string_view bytes);
    void hold(SourceBuffer* source);

    // Copied bytes, in blocks that never move.
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* block_cursor_ = nullptr;
    std::size_t block_room_ = 0;
    std::size_t next_block_size_ = 4096;

    std::vector<SourceRef> sources_;
    std::unordered_set<SourceBuffer*> held_;
    SourceBuffer* last_source_ = nullptr;
    std::optional<InternalFailure> broken_;
};

}  // namespace quorvane::write
