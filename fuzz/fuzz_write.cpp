// The writer below Python on trees built from arbitrary bytes: texts and
// attribute values of arbitrary UTF-8 (markup characters included), nodes
// shared between parents. Both sinks must write the same valid UTF-8, and
// the reader must read it back to the same names, attributes and texts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "src/read/scanner.h"
#include "src/storage/attribute_map.h"
#include "src/write/write_document.h"
#include "structural/simd/utf8.h"

namespace {

namespace qr = quorvane::read;
namespace qw = quorvane::write;
using quorvane::storage::AttributeMap;
using quorvane::storage::NodeString;
using quorvane::storage::OptionalString;

void require(bool holds) {
    if (!holds) std::abort();
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ == size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // A name of ASCII letters, which any reader accepts as an XML name.
    std::string name() {
        std::string text(1 + byte() % 6, 'a');
        for (char& c : text) c = static_cast<char>('a' + byte() % 26);
        return text;
    }
    // Characters with no white space, from a set that needs escaping and
    // from several UTF-8 lengths.
    std::string text() {
        static constexpr std::string_view kPieces[] = {
            "&",     "<",   ">",        "\"",           "'",
            "x",     "]]>", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
            "&amp;", "y"};
        std::string text;
        for (std::size_t n = 1 + byte() % 8; n > 0; --n)
            text += kPieces[byte() % std::size(kPieces)];
        return text;
    }
    // A value, which may hold the white space a reader would normalise.
    std::string value() {
        std::string value = text();
        if (byte() % 3 == 0) value += "\t\r\n "[byte() % 4];
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct Expected {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // empty for an absent one
    std::vector<std::size_t> children;
};

std::string temporary_path() {
    char path[] = "/tmp/quorvane-fuzz-write-XXXXXX";
    const int fd = mkstemp(path);
    require(fd >= 0);
    close(fd);
    return path;
}

// The written document read back: each element as its expected node says.
void check_read_back(std::string_view text, const std::vector<Expected>& nodes) {
    quorvane::storage::SourceRef source = quorvane::storage::SourceRef::adopt(
        quorvane::storage::SourceBuffer::borrowing(text, nullptr, 0, nullptr));
    auto parsed = qr::parse_document(source.get(), nodes.back().name);
    require(parsed.has_value());
    // The pool holds elements in document order: the root, then each
    // subtree in turn, a shared node once per place it stands.
    std::vector<const Expected*> order;
    std::vector<std::pair<const Expected*, std::size_t>> stack{{&nodes.back(), 0}};
    order.push_back(&nodes.back());
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        if (next == node->children.size()) {
            stack.pop_back();
            continue;
        }
        const Expected* child = &nodes[node->children[next++]];
        order.push_back(child);
        stack.push_back({child, 0});
    }
    std::vector<qr::ParsedElement*> elements;
    parsed->pool.visit_backwards([&](qr::ParsedElement& element) {
        elements.push_back(&element);
        return true;
    });
    require(elements.size() == order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const qr::ParsedElement& element = *elements[elements.size() - 1 - i];
        const Expected& node = *order[i];
        require(*element.name.resolve() == node.name);
        require(element.child_count == node.children.size());
        require(element.text ? *element.text->resolve() == node.text : node.text.empty());
        require(element.attrs.size() == node.attributes.size());
        std::size_t a = 0;
        for (const auto& entry : element.attrs) {
            require(*entry.key.resolve() == node.attributes[a].first);
            require(*entry.value.resolve() == node.attributes[a].second);
            ++a;
        }
    }
}

// When every node stands in one place, counting each at its depth must give
// the length that measuring the tree gives.
void require_counted_size_is_measured(const qw::DetachedTree& tree, qw::WriteOptions options) {
    qw::UnescapedSizeCount count;
    std::unordered_set<const qw::DetachedNode*> seen;
    std::vector<std::pair<const qw::DetachedNode*, std::uint64_t>> unvisited{{&tree.root(), 0}};
    while (!unvisited.empty()) {
        const auto [node, depth] = unvisited.back();
        unvisited.pop_back();
        if (!seen.insert(node).second) return;
        count.add(*node, depth);
        for (const qw::DetachedNode* child : node->child_list())
            unvisited.push_back({child, depth + 1});
    }
    require(count.total(options.indent, options.declaration) ==
            qw::unescaped_output_size(tree, options.indent, options.declaration));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = temporary_path();
    Input in(data, size);
    const qw::WriteOptions options{in.byte() % 5u, in.byte() % 2 == 0};
    qw::DetachedTree tree;
    std::vector<Expected> nodes;
    std::vector<qw::DetachedNode*> copies;
    std::unordered_set<const qw::DetachedNode*> named;
    while (!in.empty() && nodes.size() < 64) {
        Expected node;
        node.name = in.name();
        if (in.byte() % 2) node.text = in.text();
        AttributeMap attrs(quorvane::storage::take_hash_key(), 0);
        for (std::size_t n = in.byte() % 4; n > 0; --n) {
            std::string key = in.name();
            if (attrs.find(key)) continue;
            std::string value = in.value();
            require(attrs.insert(NodeString::owned(key), NodeString::owned(value)).has_value());
            node.attributes.emplace_back(std::move(key), std::move(value));
        }
        for (std::size_t n = nodes.empty() ? 0 : in.byte() % 4; n > 0; --n) {
            node.children.push_back(in.byte() % nodes.size());
        }
        OptionalString text;
        if (!node.text.empty()) text = NodeString::owned(node.text);
        qw::DetachedNode* copy =
            tree.add_node(NodeString::owned(node.name), attrs, text, node.children.size());
        for (std::size_t slot = 0; slot < node.children.size(); ++slot) {
            // A node named a second time is marked, as the copier marks it.
            qw::DetachedNode* child = copies[node.children[slot]];
            if (!named.insert(child).second) child->shared = true;
            copy->child_slots()[slot] = child;
        }
        copies.push_back(copy);
        nodes.push_back(std::move(node));
    }
    if (nodes.empty()) return 0;
    tree.set_root(copies.back());
    require_counted_size_is_measured(tree, options);

    auto in_memory = qw::write_to_memory(tree, options);
    require(in_memory.has_value());
    const std::string_view text = in_memory->text();
    require(quorvane::structural::is_valid_utf8(text));
    require(qw::write_to_file(tree, path, options).has_value());
    std::FILE* file = std::fopen(path.c_str(), "rb");
    require(file != nullptr);
    std::string from_file(text.size() + 1, '\0');
    from_file.resize(std::fread(from_file.data(), 1, from_file.size(), file));
    std::fclose(file);
    require(from_file == text);
    check_read_back(text, nodes);
    return 0;
}
