#include "src/entities/detach.h"

#include <cstddef>
#include <new>
#include <span>
#include <utility>

#include "src/entities/node_walk.h"

namespace quorvane {

namespace {

// The walk copies each node before its children, into the slot its parent
// keeps for it. A node standing in several places is copied the first time
// and named by address after that; only a node with more than one reference
// can, so only those are looked up. A name the writer cannot write ends the
// walk.
class Detacher : public NodeWalk {
public:
    struct State {
        write::DetachedNode* copy = nullptr;
        std::size_t next_slot = 0;
    };

    explicit Detacher(Detached& detached) : detached_(detached) {}

    bool enter(PyObject* object, std::span<PyObject* const>,
               storage::WalkStack<PyObject*, State>& stack) {
        const NodeObject* node = as_node(object);
        write::DetachedTree& tree = detached_.tree;
        write::DetachedNode* copy = tree.add_node(node->name, node->attrs, node->text,
                                                  static_cast<std::size_t>(Py_SIZE(node)));
        if (detached_.size) detached_.size->add(*copy, stack.depth());
        if (Py_REFCNT(node) > 1) seen.add(node, copy);
        if (State* parent = stack.parent()) {
            parent->copy->child_slots()[parent->next_slot++] = copy;
        } else {
            tree.set_root(copy);
        }
        if (tree.refused()) [[unlikely]]
            return false;
        if (copy->child_count != 0) stack.descend(node->children(), {copy, 0});
        return true;
    }
    bool leave(State&, State*) { return true; }
    static bool may_share(PyObject* node) { return Py_REFCNT(node) > 1; }
    bool again(write::DetachedNode* copy, State& parent) {
        copy->shared = true;
        detached_.size.reset();
        parent.copy->child_slots()[parent.next_slot++] = copy;
        return true;
    }

    storage::SeenNodes<write::DetachedNode*> seen;

private:
    Detached& detached_;
};

}  // namespace

Result<Detached> detach_tree(const NodeObject* root, bool for_str) {
    Detached detached{write::DetachedTree(for_str), write::UnescapedSizeCount{}};
    Detacher detacher(detached);
    try {
        // A refusal ends the walk without a failure of its own.
        if (!storage::walk(detacher, NodeWalk::object(root)) && detacher.failure)
            return std::unexpected(std::move(*detacher.failure));
    } catch (const std::bad_alloc&) {
        return std::unexpected(native_failure(NativeFailure::out_of_memory()));
    }
    if (detached.tree.broken()) return std::unexpected(internal_failure(*detached.tree.broken()));
    if (detached.tree.refused()) return std::unexpected(value_error(*detached.tree.refused()));
    return detached;
}

}  // namespace quorvane
