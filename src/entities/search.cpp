// Subtree search: a pre-order walk, which keeps its place on an explicit
// stack, so the depth of a tree never reaches the native stack.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/entities/operations.h"
#include "src/entities/search_type.h"

namespace quorvane {

namespace {

using Hit = std::expected<bool, NativeFailure>;

Hit name_matches(const NodeObject& node, const storage::TextMatcher& value) {
    return value.matches(node.name);
}

Hit attr_matches(const NodeObject& node, const storage::TextMatcher& value) {
    return node.attrs.find(value.value()) != nullptr;
}

Hit text_matches(const NodeObject& node, const storage::TextMatcher& value) {
    return node.text ? value.matches(*node.text) : Hit(false);
}

// A tree is scattered over memory, so a walk waits on every node it meets
// unless it asks for the next siblings ahead: the lines holding the child
// count and the name, which follows it.
constexpr std::size_t kLookahead = 8;

void prefetch_node(PyObject* child) {
    const char* at = reinterpret_cast<const char*>(child);
    __builtin_prefetch(at);
    __builtin_prefetch(at + offsetof(NodeObject, name) + sizeof(storage::NodeString) - 1);
}

// Asks for the first nodes of a level the walk is about to enter.
void prefetch_first(std::span<PyObject* const> children) {
    const std::size_t ahead = std::min(children.size(), kLookahead);
    for (std::size_t i = 0; i < ahead; ++i) prefetch_node(children[i]);
}

// Nodes are immutable and the start node is held by the caller, so the walk
// borrows every node it meets; no Python code runs until the list is built.
// A match takes its reference at once, while the node is still in a cache.
// An open node keeps the depth left below its children.
template <Hit (*matches)(const NodeObject&, const storage::TextMatcher&)>
class Search : public NodeWalk {
public:
    using State = std::int32_t;

    Search(std::string_view text, std::optional<std::int32_t> depth)
        // A negative depth never counts down to zero, so it limits nothing.
        : value_(text), limited_(depth && *depth >= 0), root_remaining_(limited_ ? *depth : 0) {}

    bool enter(PyObject* object, std::span<PyObject* const> following,
               storage::WalkStack<PyObject*, State>& stack) {
        if (following.size() >= kLookahead) prefetch_node(following[kLookahead - 1]);
        // A sibling asked for earlier has arrived by now: its children are
        // where the walk descends next.
        if (following.size() >= kLookahead / 2)
            prefetch_first(children(following[kLookahead / 2 - 1]));
        const NodeObject* node = as_node(object);
        const State* parent = stack.parent();
        const State remaining = parent ? *parent : root_remaining_;
        Hit hit = matches(*node, value_);
        if (!hit) return fail(internal_failure(std::move(hit.error())));
        if (*hit) found.push_back(PyRef::borrow(object));
        auto below = node->children();
        if (!below.empty() && !(limited_ && remaining == 0)) {
            prefetch_first(below);
            stack.descend(below, limited_ ? remaining - 1 : 0);
        }
        return true;
    }
    bool leave(State&, State*) { return true; }

    std::vector<PyRef> found;

private:
    const storage::TextMatcher value_;
    const bool limited_;
    const State root_remaining_;
};

template <Hit (*matches)(const NodeObject&, const storage::TextMatcher&)>
Result<std::vector<PyRef>> search_tree(const NodeObject* start, std::string_view text,
                                       std::optional<std::int32_t> depth) {
    Search<matches> search(text, depth);
    if (auto walked = walk_locked(search, NodeWalk::object(start)); !walked)
        return std::unexpected(std::move(walked.error()));
    return std::move(search.found);
}

Result<PyRef> search(PyObject* self, SearchKind kind, PyObject* value, const char* value_name,
                     PyObject* depth) {
    auto text = text_view(value);
    if (!text) return std::unexpected(while_processing(std::move(text.error()), value_name));
    std::optional<std::int32_t> limit;
    if (!absent(depth)) {
        auto converted = int32(depth);
        if (!converted)
            return std::unexpected(while_processing(std::move(converted.error()), "depth"));
        limit = *converted;
    }
    const NodeObject* start = as_node(self);
    Result<std::vector<PyRef>> found;
    switch (kind) {
        case SearchKind::Tag:
            found = search_tree<name_matches>(start, *text, limit);
            break;
        case SearchKind::Attr:
            found = search_tree<attr_matches>(start, *text, limit);
            break;
        case SearchKind::Text:
            found = search_tree<text_matches>(start, *text, limit);
            break;
    }
    if (!found) return std::unexpected(std::move(found.error()));
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(found->size())));
    if (!list) return std::unexpected(raised());
    for (std::size_t i = 0; i < found->size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), (*found)[i].release());
    }
    return list;
}

const char* const by_name_names[] = {"name", "depth"};
const char* const by_attr_names[] = {"key", "depth"};
const char* const by_text_names[] = {"text", "depth"};
const char* const search_names[] = {"by", "value", "depth"};

const Signature by_name_signature{"Node.search_by_name()", by_name_names, 2, 1};
const Signature by_attr_signature{"Node.search_by_attr()", by_attr_names, 2, 1};
const Signature by_text_signature{"Node.search_by_text()", by_text_names, 2, 1};
const Signature search_signature{"Node.search()", search_names, 3, 2};

PyObject* search_method(const Signature& signature, SearchKind kind, PyObject* self,
                        PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            return search(self, kind, slots[0], signature.names[0], slots[1]);
        });
}

}  // namespace

PyObject* node_search_by_name(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return search_method(by_name_signature, SearchKind::Tag, self, args, nargs, kwnames);
}

PyObject* node_search_by_attr(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return search_method(by_attr_signature, SearchKind::Attr, self, args, nargs, kwnames);
}

PyObject* node_search_by_text(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return search_method(by_text_signature, SearchKind::Text, self, args, nargs, kwnames);
}

PyObject* node_search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        search_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto kind = search_kind_argument(slots[0]);
            if (!kind) return std::unexpected(while_processing(std::move(kind.error()), "by"));
            return search(self, *kind, slots[1], "value", slots[2]);
        });
}

}  // namespace quorvane
