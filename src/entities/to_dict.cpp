// to_dict: a node's tree as nested dicts, lists and strs, made by the tree
// walk, so that the depth of a tree never reaches the native stack.
#include <span>
#include <utility>

#include "src/boundary/call.h"
#include "src/boundary/interpreter_state.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/entities/operations.h"

namespace quorvane {

namespace {

struct DictKeys {
    PyObject* name;
    PyObject* attrs;
    PyObject* children;
    PyObject* text;
};

Result<DictKeys> dict_keys() {
    InterpreterState* state = interpreter_state();
    if (!state || !state->dict_keys[3])
        return std::unexpected(internal_failure("quorvane is not imported here"));
    const auto& keys = state->dict_keys;
    return DictKeys{keys[0], keys[1], keys[2], keys[3]};
}

// The conversion makes a fresh tree of dicts, lists and strs and runs no
// Python code, with the interpreter lock held throughout: the cyclic
// collector could only scan those containers and find them alive, again at
// every collection their number triggers. It is paused for the call and its
// state restored after. A free-threaded interpreter runs other threads
// meanwhile, whose collections are theirs to decide, so there it is left alone.
class CollectorPause {
public:
    CollectorPause() {
#ifndef Py_GIL_DISABLED
        was_enabled_ = PyGC_Disable() != 0;
#endif
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    bool was_enabled_ = false;
};

// The dictionary of one node whose children's dictionaries are in `children`.
Result<PyRef> node_dict(const DictKeys& keys, const NodeObject& node, PyRef children) {
    auto name = string_object(node.name);
    if (!name) return name;
    auto attrs = attrs_object(node.attrs);
    if (!attrs) return attrs;
    auto text = node.text ? string_object(*node.text) : Result<PyRef>(PyRef::borrow(Py_None));
    if (!text) return text;
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return std::unexpected(raised());
    if (PyDict_SetItem(dict.get(), keys.name, name->get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.attrs, attrs->get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.children, children.get()) < 0 ||
        PyDict_SetItem(dict.get(), keys.text, text->get()) < 0) {
        return std::unexpected(raised());
    }
    return dict;
}

Result<PyRef> new_list(const NodeObject& node) {
    PyRef list = PyRef::steal(PyList_New(Py_SIZE(&node)));
    if (!list) return std::unexpected(raised());
    return list;
}

// Post-order: a node's dictionary is made once all its children's are in
// its list, which an open node keeps with the next slot to fill.
class TreeDict : public NodeWalk {
public:
    struct State {
        const NodeObject* node = nullptr;
        PyRef children;
        Py_ssize_t next = 0;
    };

    explicit TreeDict(const DictKeys& keys) : keys_(keys) {}

    bool enter(PyObject* object, std::span<PyObject* const>,
               storage::WalkStack<PyObject*, State>& stack) {
        const NodeObject* node = as_node(object);
        auto list = new_list(*node);
        if (!list) return fail(std::move(list.error()));
        if (Py_SIZE(node) > 0) {
            stack.descend(node->children(), {node, std::move(*list), 0});
            return true;
        }
        return finish(node_dict(keys_, *node, std::move(*list)), stack.parent());
    }
    bool leave(State& state, State* parent) {
        return finish(node_dict(keys_, *state.node, std::move(state.children)), parent);
    }

    PyRef root;

private:
    // Puts a node's dictionary in its parent's list, or keeps the root's.
    bool finish(Result<PyRef> dict, State* parent) {
        if (!dict) return fail(std::move(dict.error()));
        if (!parent) {
            root = std::move(*dict);
        } else {
            PyList_SET_ITEM(parent->children.get(), parent->next++, dict->release());
        }
        return true;
    }

    const DictKeys& keys_;
};

Result<PyRef> tree_dict(const NodeObject* root) {
    auto keys = dict_keys();
    if (!keys) return std::unexpected(std::move(keys.error()));
    TreeDict dicts(*keys);
    if (auto walked = walk_locked(dicts, NodeWalk::object(root)); !walked)
        return std::unexpected(std::move(walked.error()));
    return std::move(dicts.root);
}

}  // namespace

PyObject* node_to_dict(PyObject* self, PyObject*) {
    return call_boundary([&] {
        CollectorPause pause;
        return tree_dict(as_node(self));
    });
}

}  // namespace quorvane
