#include "write/serializer.h"

#include <unordered_map>
#include <vector>

namespace quorvane::write {

std::optional<std::uint64_t> UnescapedSizeCount::total(std::uint64_t indent,
                                                       bool declaration) const {
    CheckedCount total = bytes_;
    total.add_product(levels_.value(), indent);
    if (declaration) total.add(xml_declaration.size());
    if (total.overflowed() || (levels_.overflowed() && indent != 0)) return std::nullopt;
    return total.value();
}

// A subtree written at depth d takes length + breaks × indent × d bytes:
// `length` is its size at depth 0, and each of its `breaks` line breaks is
// indented by `indent` more spaces per level it lies deeper. The walk keeps
// its place on an explicit stack and measures a node once its children are.
std::optional<std::uint64_t> unescaped_output_size(const DetachedTree& tree, std::uint64_t indent,
                                                   bool declaration) {
    struct Measure {
        CheckedCount length;
        CheckedCount breaks;
    };
    struct Frame {
        const DetachedNode* node;
        std::size_t next_child;
        Measure measure;
    };
    auto start = [indent](const DetachedNode& node) {
        Measure measure;
        measure.length.add(own_bytes(node));
        if (node.child_count != 0) {
            // A line feed and one level of indentation before each child's
            // line, and a line at the element's own depth for its end tag.
            const std::uint64_t breaks = child_breaks(node);
            measure.length.add_product(breaks, indent);
            measure.length.add(breaks + 1);
            measure.breaks.add(breaks + 1);
        }
        return measure;
    };
    auto add_child = [indent](Frame& parent, const Measure& child) {
        parent.measure.length.add(child.length);
        parent.measure.length.add_product(child.breaks.value(), indent);
        parent.measure.breaks.add(child.breaks);
    };

    std::unordered_map<const DetachedNode*, Measure> measured_shared;
    std::vector<Frame> unfinished;
    unfinished.push_back({&tree.root(), 0, start(tree.root())});
    Measure root;
    while (!unfinished.empty()) {
        Frame& top = unfinished.back();
        if (top.next_child < top.node->child_count) {
            const DetachedNode* child = top.node->child_list()[top.next_child++];
            if (child->shared) {
                if (auto found = measured_shared.find(child); found != measured_shared.end()) {
                    add_child(top, found->second);
                    continue;
                }
            }
            unfinished.push_back({child, 0, start(*child)});
            continue;
        }
        const Measure finished = top.measure;
        const DetachedNode& node = *top.node;
        unfinished.pop_back();
        if (node.shared) measured_shared.emplace(&node, finished);
        if (unfinished.empty()) {
            root = finished;
        } else {
            add_child(unfinished.back(), finished);
        }
    }
    // Each line break adds a byte to the length, so counting them cannot
    // overflow unless the length does.
    CheckedCount total = root.length;
    if (declaration) total.add(xml_declaration.size());
    if (total.overflowed()) return std::nullopt;
    return total.value();
}

}  // namespace quorvane::write
