// The Node class: one immutable XML element. The object is made in one
// allocation, its child references stored inline after the record.
#pragma once

#include <Python.h>

#include <new>
#include <optional>
#include <span>
#include <vector>

#include "src/boundary/failure.h"
#include "src/boundary/py_ref.h"
#include "src/storage/attribute_map.h"
#include "src/storage/node_string.h"
#include "src/storage/pool_heap.h"

namespace quorvane {

// A finished element before it becomes a Node.
struct NodeRecord {
    storage::NodeString name;
    storage::AttributeMap attrs;
    std::vector<PyRef> children;  // each a Node
    storage::OptionalString text;
};

struct NodeObject {
    PyVarObject ob_base;  // ob_size: the number of children
    // First, next to the child count: a walk that tests names finds both in
    // the node's first 40 bytes, most often one cache line.
    storage::NodeString name;
    storage::AttributeMap attrs;
    storage::OptionalString text;

    // Borrowed references to the children, owned by this node.
    std::span<PyObject* const> children() const {
        return {reinterpret_cast<PyObject* const*>(reinterpret_cast<const char*>(this) +
                                                   children_offset()),
                static_cast<std::size_t>(Py_SIZE(this))};
    }
    // Where the child slots start: just past the record, pointer-aligned.
    static constexpr std::size_t children_offset() {
        return (sizeof(NodeObject) + alignof(PyObject*) - 1) / alignof(PyObject*) *
               alignof(PyObject*);
    }
};

// A node without children fits the interpreter's 64-byte allocation class;
// free threading widens the object header by 16 bytes.
#ifdef Py_GIL_DISABLED
static_assert(sizeof(void*) != 8 || NodeObject::children_offset() == 80);
#else
static_assert(sizeof(void*) != 8 || NodeObject::children_offset() == 64);
#endif

// The current interpreter's Node class and the pools its nodes are cut
// from, made with the module's state (see boundary/interpreter_state.h) and
// asked for once per operation.
struct NodeClass {
    PyTypeObject* type;  // null with an exception set where the module was not executed
    storage::PoolHeap* pools;
};
NodeClass current_node_class();
// A new Node class, made once per interpreter.
PyObject* new_node_type();

// The pools a new interpreter's nodes are cut from, or null where they come
// from the interpreter's own allocator instead.
Result<storage::PoolHeap*> new_node_pools();

// Every interpreter's Node class has this deallocator, and none can be
// subclassed: the test needs no lookup of the current interpreter's class.
void node_dealloc(PyObject* self);
inline bool is_node(PyObject* object) { return Py_TYPE(object)->tp_dealloc == node_dealloc; }
inline const NodeObject* as_node(PyObject* object) {
    return reinterpret_cast<const NodeObject*>(object);
}

// Wraps a finished record into a new Node of `node_class`; on failure the
// record is released.
Result<PyRef> make_node_object(const NodeClass& node_class, NodeRecord record);

// A new Node object for `child_count` children with its fields still
// unconstructed, or null with the interpreter's error set.
NodeObject* allocate_node(const NodeClass& node_class, std::size_t child_count);

// Wraps the parts of a finished element into a new Node whose child slots
// `fill` stores, each a reference the node takes over. Made in one
// allocation without a NodeRecord in between; on failure the parts stay
// with the caller.
template <class Fill>
Result<PyRef> make_node_object(const NodeClass& node_class, storage::NodeString& name,
                               storage::AttributeMap& attrs, storage::OptionalString& text,
                               std::size_t child_count, Fill&& fill) {
    NodeObject* node = allocate_node(node_class, child_count);
    if (!node) return std::unexpected(raised());
    new (&node->name) storage::NodeString(std::move(name));
    new (&node->attrs) storage::AttributeMap(std::move(attrs));
    new (&node->text) storage::OptionalString(std::move(text));
    fill(reinterpret_cast<PyObject**>(reinterpret_cast<char*>(node) +
                                      NodeObject::children_offset()));
    return PyRef::steal(reinterpret_cast<PyObject*>(node));
}

// The `node` argument converter.
Result<const NodeObject*> node_argument(PyObject* value);

// A str of a stored string (an invariant break is an internal failure).
Result<PyRef> string_object(const storage::NodeString& text);

// A new dict of an attribute map's entries, in its iteration order.
Result<PyRef> attrs_object(const storage::AttributeMap& attrs);

}  // namespace quorvane
