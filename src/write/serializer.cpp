#include "src/write/serializer.h"

#include <span>

#include "src/storage/tree_walk.h"

namespace quorvane::write {

std::optional<std::uint64_t> UnescapedSizeCount::total(std::uint64_t indent,
                                                       bool declaration) const {
    CheckedCount total = bytes_;
    total.add_product(levels_.value(), indent);
    if (declaration) total.add(kXmlDeclaration.size());
    if (total.overflowed() || (levels_.overflowed() && indent != 0)) return std::nullopt;
    return total.value();
}

namespace {

// The length and line breaks of a subtree written at depth 0.
struct Measure {
    CheckedCount length;
    CheckedCount breaks;
};

// A subtree written at depth d takes length + breaks × indent × d bytes:
// `length` is its size at depth 0, and each of its `breaks` line breaks is
// indented by `indent` more spaces per level it lies deeper. A node is
// measured once its children are; an open one keeps its measure so far.
class Measurer {
public:
    using Child = const DetachedNode*;
    struct State {
        const DetachedNode* node = nullptr;
        Measure measure;
    };

    explicit Measurer(std::uint64_t indent) : indent_(indent) {}

    bool enter(const DetachedNode* node, std::span<const DetachedNode* const>,
               storage::WalkStack<Child, State>& stack) {
        Measure measure;
        measure.length.add(own_bytes(*node));
        if (node->child_count == 0) return finish(*node, measure, stack.parent());
        // A line feed and one level of indentation before each child's
        // line, and a line at the element's own depth for its end tag.
        const std::uint64_t breaks = child_breaks(*node);
        measure.length.add_product(breaks, indent_);
        measure.length.add(breaks + 1);
        measure.breaks.add(breaks + 1);
        stack.descend(node->child_list(), {node, measure});
        return true;
    }
    bool leave(State& state, State* parent) { return finish(*state.node, state.measure, parent); }
    static bool may_share(const DetachedNode* node) { return node->shared; }
    bool again(const Measure& measure, State& parent) {
        add_child(parent.measure, measure);
        return true;
    }

    storage::SeenNodes<Measure> seen;
    Measure root;

private:
    bool finish(const DetachedNode& node, const Measure& measure, State* parent) {
        if (node.shared) seen.add(&node, measure);
        if (parent) {
            add_child(parent->measure, measure);
        } else {
            root = measure;
        }
        return true;
    }
    void add_child(Measure& parent, const Measure& child) const {
        parent.length.add(child.length);
        parent.length.add_product(child.breaks.value(), indent_);
        parent.breaks.add(child.breaks);
    }

    std::uint64_t indent_;
};

}  // namespace

std::optional<std::uint64_t> unescaped_output_size(const DetachedTree& tree, std::uint64_t indent,
                                                   bool declaration) {
    Measurer measurer(indent);
    storage::walk(measurer, &tree.root());
    // Each line break adds a byte to the length, so counting them cannot
    // overflow unless the length does.
    CheckedCount total = measurer.root.length;
    if (declaration) total.add(kXmlDeclaration.size());
    if (total.overflowed()) return std::nullopt;
    return total.value();
}

}  // namespace quorvane::write
