// The Node class: one immutable XML element. The object is made in one
// allocation, its child references stored inline after the record.
#pragma once

#include <Python.h>

#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "src/boundary/convert.h"
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
// unconstructed, or null when memory ran out.
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
    if (!node) return std::unexpected(no_memory());
    new (&node->name) storage::NodeString(std::move(name));
    new (&node->attrs) storage::AttributeMap(std::move(attrs));
    new (&node->text) storage::OptionalString(std::move(text));
    fill(reinterpret_cast<PyObject**>(reinterpret_cast<char*>(node) +
                                      NodeObject::children_offset()));
    return PyRef::steal(reinterpret_cast<PyObject*>(node));
}

// A new attribute table of a dict's entries, each key and value a str (the
// cast error with target str on the first that is not). `next(key, value)`
// reads the dict, as its caller must: it stores the next entry and gives
// true, gives false at the end, or fails.
template <class Next>
Result<storage::AttributeMap> attribute_table(PyObject* dict, Next&& next) {
    storage::AttributeMap attrs(storage::take_hash_key(),
                                static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (true) {
        Result<bool> more = next(key, value);
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) return attrs;
        auto key_text = text_view(key);
        if (!key_text) return std::unexpected(std::move(key_text.error()));
        auto value_text = text_view(value);
        if (!value_text) return std::unexpected(std::move(value_text.error()));
        auto inserted = attrs.insert(storage::NodeString::owned(*key_text),
                                     storage::NodeString::owned(*value_text));
        if (!inserted) return std::unexpected(internal_failure(std::move(inserted.error())));
    }
}

// The iterator over a sequence of children: anything the sequence protocol
// accepts but a str. Its length, where it can be had (an error asking for it
// is dropped), goes to `reserve(length)` first, which sizes the caller's list
// or fails.
template <class Reserve>
Result<PyRef> children_iterator(PyObject* value, Reserve&& reserve) {
    if (PyUnicode_Check(value)) return std::unexpected(type_error("Can't extract `str` to `Vec`"));
    if (!PySequence_Check(value)) return std::unexpected(cast_error(value, "Sequence"));
    const Py_ssize_t length = PySequence_Size(value);
    if (length < 0) {
        PyErr_Clear();
    } else if (Result<void> reserved = reserve(length); !reserved) {
        return std::unexpected(std::move(reserved.error()));
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(value));
    if (!iterator) return std::unexpected(raised());
    return iterator;
}

// The `node` argument converter.
Result<const NodeObject*> node_argument(PyObject* value);

// The bytes of a stored string (an invariant break is an internal failure).
Result<std::string_view> resolved(const storage::NodeString& text);
// A str of a stored string.
Result<PyRef> string_object(const storage::NodeString& text);

// A new dict of an attribute map's entries, in its iteration order.
Result<PyRef> attrs_object(const storage::AttributeMap& attrs);

}  // namespace quorvane
