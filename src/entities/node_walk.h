// What the tree walk needs of a Node tree: a node is met as the object its
// parent holds, and a walk with the interpreter lock held answers Ctrl-C.
#pragma once

#include <optional>
#include <span>
#include <utility>

#include "boundary/call.h"
#include "entities/node.h"
#include "platform/tree_walk.h"

namespace quorvane {

// The base of a visitor of platform::walk() over nodes, which keeps the
// failure that ended the walk.
struct NodeWalk {
    using Child = PyObject*;

    static std::span<PyObject* const> children(PyObject* node) { return as_node(node)->children(); }
    static PyObject* object(const NodeObject* node) {
        return reinterpret_cast<PyObject*>(const_cast<NodeObject*>(node));
    }

    bool fail(Failure why) {
        failure = std::move(why);
        return false;
    }
    bool poll() {
        if (auto checked = interrupts.step(); !checked) [[unlikely]]
            return fail(std::move(checked.error()));
        return true;
    }

    InterruptCheck interrupts;
    std::optional<Failure> failure;
};

// Walks the tree under `root` with `visitor`, a NodeWalk.
template <class Visitor>
Result<void> walk_nodes(Visitor& visitor, PyObject* root) {
    if (platform::walk(visitor, root)) return {};
    return std::unexpected(std::move(*visitor.failure));
}

}  // namespace quorvane
