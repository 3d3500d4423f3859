#include "write/serializer.h"

namespace quorvane::write {

namespace {

// A 64-bit count that remembers having overflowed.
class CheckedCount {
public:
    void add(std::uint64_t amount) {
        overflowed_ |= __builtin_add_overflow(value_, amount, &value_);
    }
    void add_product(std::uint64_t a, std::uint64_t b) {
        std::uint64_t product;
        overflowed_ |= __builtin_mul_overflow(a, b, &product);
        add(product);
    }
    void add(const CheckedCount& other) {
        overflowed_ |= other.overflowed_;
        add(other.value_);
    }

    std::uint64_t value() const { return value_; }
    bool overflowed() const { return overflowed_; }

private:
    std::uint64_t value_ = 0;
    bool overflowed_ = false;
};

}  // namespace

// A subtree written at depth d takes length + breaks × indent × d bytes:
// `length` is its size at depth 0, and each of its `breaks` line breaks is
// indented by `indent` more spaces per level it lies deeper. Children come
// before their parents in the tree, so one pass in order measures all.
std::optional<std::uint64_t> unescaped_output_size(const DetachedTree& tree, std::uint64_t indent,
                                                   bool declaration) {
    struct Measure {
        CheckedCount length;
        CheckedCount breaks;
    };
    std::vector<Measure> measures(tree.nodes.size());
    for (std::size_t i = 0; i < tree.nodes.size(); ++i) {
        const DetachedNode& node = tree.nodes[i];
        CheckedCount length;
        CheckedCount breaks;
        length.add(1 + node.name.size);  // <name
        for (const DetachedAttribute& attribute : tree.attributes_of(node)) {
            length.add(attribute.name.size + attribute.value.size + 4);  // ' name="value"'
        }
        if (!node.text.present() && node.child_count == 0) {
            length.add(2);  // />
            measures[i] = {length, breaks};
            continue;
        }
        length.add(1);  // >
        length.add(node.text.size);
        bool follows_text = node.text.present();
        for (const std::size_t child : tree.children_of(node)) {
            if (!follows_text) {
                length.add(1);  // the line feed, then one level of indentation
                length.add(indent);
                breaks.add(1);
            }
            follows_text = false;
            length.add(measures[child].length);
            length.add_product(measures[child].breaks.value(), indent);
            breaks.add(measures[child].breaks);
        }
        if (node.child_count != 0) {
            length.add(1);  // the end tag's line, at the element's own depth
            breaks.add(1);
        }
        length.add(3 + node.name.size);  // </name>
        measures[i] = {length, breaks};
    }
    CheckedCount total = measures.back().length;
    if (declaration) total.add(xml_declaration.size());
    if (total.overflowed()) return std::nullopt;
    return total.value();
}

}  // namespace quorvane::write
