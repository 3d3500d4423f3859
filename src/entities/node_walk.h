// What the tree walk needs of a Node tree: a node is met as the object its
// parent holds, and a walk with the interpreter lock held answers Ctrl-C.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "src/boundary/call.h"
#include "src/entities/node.h"
#include "src/storage/tree_walk.h"

namespace quorvane {

// The base of a visitor of walk() with the interpreter lock held:
// it keeps the failure that ended the walk.
struct LockedWalk {
    bool fail(Failure why) {
        failure = std::move(why);
        return false;
    }
    static constexpr std::uint32_t kPollInterval = InterruptCheck::kInterval;
    bool poll() {
        if (auto checked = InterruptCheck::now(); !checked) return fail(std::move(checked.error()));
        return true;
    }

    std::optional<Failure> failure;
};

// The base of a visitor of a Node tree.
struct NodeWalk : LockedWalk {
    using Child = PyObject*;

    static std::span<PyObject* const> children(PyObject* node) { return as_node(node)->children(); }
    static PyObject* object(const NodeObject* node) {
        return reinterpret_cast<PyObject*>(const_cast<NodeObject*>(node));
    }
};

// Walks the tree under `root` with `visitor`, a LockedWalk.
template <class Visitor>
Result<void> walk_locked(Visitor& visitor, typename Visitor::Child root) {
    if (storage::walk(visitor, root)) return {};
    return std::unexpected(std::move(*visitor.failure));
}

}  // namespace quorvane
