#include "src/entities/node.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/boundary/interpreter_state.h"
#include "src/entities/operations.h"

namespace quorvane {

namespace {

std::size_t node_bytes(std::size_t child_count) {
    return NodeObject::children_offset() + child_count * sizeof(PyObject*);
}

// Whether nodes are cut from their interpreter's pools (current_node_class().pools)
// rather than taken from its object allocator, which hands a tree's nodes
// out from fresh pages on every read once the last tree has been dropped.
// Free threading reads list and dict items without a lock, trusting that an
// object's memory stays the interpreter's until no reader can hold it, so
// its nodes stay there; and where PYTHONMALLOC asks the interpreter to hand
// every object to another allocator, mostly so that a memory checker sees
// each one, nodes follow it. Decided once, so a node's release always finds
// the allocator it came from, when the module is loaded, so that asking
// costs no guard at every node.
#ifdef Py_GIL_DISABLED
constexpr bool kNodesPooled = false;
#else
const bool kNodesPooled = [] {
    const char* allocator = std::getenv("PYTHONMALLOC");
    return !allocator || !*allocator || std::strcmp(allocator, "pymalloc") == 0;
}();
#endif

bool pooled(std::size_t bytes) { return kNodesPooled && bytes <= storage::PoolHeap::kLargestBlock; }

// ob_size of a node whose fields an outer release already destroyed.
constexpr Py_ssize_t kEmptied = -1;

// Written over the dead `name` of an emptied node: the queue of emptied nodes
// whose children are still to be released runs through the nodes themselves,
// so freeing a tree of any depth or width allocates nothing and cannot fail.
struct EmptiedLink {
    NodeObject* next;
    std::size_t child_count;
};

EmptiedLink& link_of(NodeObject* node) {
    return *std::launder(static_cast<EmptiedLink*>(static_cast<void*>(&node->name)));
}

void destroy_fields(NodeObject* node, storage::SpanReleases& releases) noexcept {
    node->name.release_into(releases);
    node->name.~NodeString();
    node->attrs.release_into(releases);
    node->attrs.~AttributeMap();
    if (node->text) node->text->release_into(releases);
    node->text.~OptionalString();
}

// Gives up `node`'s child references. A child this is the last owner of is
// emptied here and queued, so its own dealloc later only frees memory and no
// release nests inside another; Nodes hold no weak or cyclic references that
// could revive it.
void release_children(PyObject* const* children, std::size_t count, NodeObject*& queue,
                      storage::SpanReleases& releases) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* child = children[i];
        if (Py_REFCNT(child) != 1) {
            Py_DECREF(child);
            continue;
        }
        auto* emptied = reinterpret_cast<NodeObject*>(child);
        const auto grandchildren = static_cast<std::size_t>(Py_SIZE(child));
        destroy_fields(emptied, releases);
        static_assert(sizeof(EmptiedLink) <= sizeof(storage::NodeString));
        new (&emptied->name) EmptiedLink{queue, grandchildren};
        Py_SET_SIZE(child, kEmptied);
        queue = emptied;
    }
}

}  // namespace

void node_dealloc(PyObject* self) {
    auto* node = reinterpret_cast<NodeObject*>(self);
    std::size_t child_count;
    if (Py_SIZE(self) == kEmptied) {
        child_count = link_of(node).child_count;
    } else {
        child_count = static_cast<std::size_t>(Py_SIZE(self));
        AttachScope attached;
        // Flushed while the scope lasts: the last reference to a buffer may
        // release the str it reads.
        storage::SpanReleases releases;
        NodeObject* queue = nullptr;
        const auto children = node->children();
        destroy_fields(node, releases);
        release_children(children.data(), children.size(), queue, releases);
        while (queue) {
            NodeObject* emptied = queue;
            const EmptiedLink link = link_of(emptied);
            queue = link.next;
            release_children(reinterpret_cast<PyObject* const*>(reinterpret_cast<char*>(emptied) +
                                                                NodeObject::children_offset()),
                             link.child_count, queue, releases);
            Py_DECREF(reinterpret_cast<PyObject*>(emptied));
        }
    }
    PyTypeObject* type = Py_TYPE(self);
    if (pooled(node_bytes(child_count))) {
        storage::PoolHeap::release(self);
    } else {
        PyObject_Free(self);
    }
    Py_DECREF(type);
}

namespace {

const char* const constructor_names[] = {"name", "attrs", "children", "text"};
const Signature constructor_signature{"Node.__new__()", constructor_names, 4, 1};

// Reads the dict's entries in place, under its lock; nothing may unwind out
// of the locked section, so a failed allocation becomes a MemoryError there.
Result<storage::AttributeMap> read_attrs(PyObject* dict) {
    try {
        Py_ssize_t position = 0;
        return attribute_table(dict, [&](PyObject*& key, PyObject*& value) -> Result<bool> {
            return PyDict_Next(dict, &position, &key, &value) != 0;
        });
    } catch (const std::bad_alloc&) {
        return std::unexpected(no_memory());
    }
}

Result<storage::AttributeMap> attrs_argument(PyObject* value) {
    if (absent(value)) return storage::AttributeMap();
    if (!PyDict_Check(value)) return std::unexpected(cast_error(value, "dict"));
    Result<storage::AttributeMap> attrs;
    Py_BEGIN_CRITICAL_SECTION(value);
    attrs = read_attrs(value);
    Py_END_CRITICAL_SECTION();
    return attrs;
}

Result<std::vector<PyRef>> children_argument(PyObject* value) {
    std::vector<PyRef> children;
    if (absent(value)) return children;
    auto iterator = children_iterator(value, [&](Py_ssize_t length) -> Result<void> {
        try {
            children.reserve(static_cast<std::size_t>(length));
        } catch (const std::exception&) {
            return std::unexpected(no_memory());
        }
        return {};
    });
    if (!iterator) return std::unexpected(std::move(iterator.error()));
    while (PyRef item = PyRef::steal(PyIter_Next(iterator->get()))) {
        if (!is_node(item.get())) return std::unexpected(cast_error(item.get(), "Node"));
        children.push_back(std::move(item));
    }
    if (PyErr_Occurred()) return std::unexpected(raised());
    return children;
}

Result<std::optional<storage::NodeString>> optional_text_argument(PyObject* value) {
    if (absent(value)) return std::nullopt;
    auto view = text_view(value);
    if (!view) return std::unexpected(std::move(view).error());
    return std::optional(storage::NodeString::owned(*view));
}

Result<PyRef> construct(PyTypeObject* type, PyObject* const* slots) {
    auto name = text_view(slots[0]);
    if (!name) return std::unexpected(while_processing(std::move(name.error()), "name"));
    NodeRecord record{storage::NodeString::owned(*name), {}, {}, {}};
    auto attrs = attrs_argument(slots[1]);
    if (!attrs) return std::unexpected(while_processing(std::move(attrs.error()), "attrs"));
    record.attrs = std::move(*attrs);
    auto children = children_argument(slots[2]);
    if (!children)
        return std::unexpected(while_processing(std::move(children.error()), "children"));
    record.children = std::move(*children);
    auto text = optional_text_argument(slots[3]);
    if (!text) return std::unexpected(while_processing(std::move(text.error()), "text"));
    record.text = std::move(*text);
    // The class called is this interpreter's, made by this or an earlier
    // execution of the module; the pools are the current one's.
    const NodeClass current = current_node_class();
    if (!current.type) return std::unexpected(raised());
    return make_node_object(NodeClass{type, current.pools}, std::move(record));
}

PyObject* node_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return call_boundary([&]() -> Result<PyRef> {
        PyObject* slots[4];
        if (auto bound = bind_tuple_arguments(constructor_signature, args, kwargs, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return construct(type, slots);
    });
}

PyObject* node_vectorcall(PyObject* type, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    return call_with_arguments(constructor_signature, args, PyVectorcall_NARGS(nargsf), kwnames,
                               [&](PyObject* const* slots) {
                                   return construct(reinterpret_cast<PyTypeObject*>(type), slots);
                               });
}

PyObject* get_name(PyObject* self, void*) {
    return call_boundary([&] { return string_object(as_node(self)->name); });
}

PyObject* get_text(PyObject* self, void*) {
    return call_boundary([&]() -> Result<PyRef> {
        const auto& text = as_node(self)->text;
        if (!text) return PyRef::borrow(Py_None);
        return string_object(*text);
    });
}

PyObject* get_attrs(PyObject* self, void*) {
    return call_boundary([&] { return attrs_object(as_node(self)->attrs); });
}

PyObject* get_children(PyObject* self, void*) {
    return call_boundary([&]() -> Result<PyRef> {
        auto children = as_node(self)->children();
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(children.size())));
        if (!list) return std::unexpected(raised());
        for (std::size_t i = 0; i < children.size(); ++i) {
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(children[i]));
        }
        return list;
    });
}

PyGetSetDef node_getset[] = {
    {"name", get_name, nullptr, nullptr, nullptr},
    {"attrs", get_attrs, nullptr, nullptr, nullptr},
    {"children", get_children, nullptr,
     "Children are shared references to the same nodes, not copies.", nullptr},
    {"text", get_text, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* new_node_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>("Node(name, attrs=None, children=None, text=None)\n--\n\n")},
        {Py_tp_new, reinterpret_cast<void*>(node_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(node_dealloc)},
        {Py_tp_getset, node_getset},
        {Py_tp_methods, node_methods},
        {Py_tp_str, reinterpret_cast<void*>(node_str)},
        {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
        {0, nullptr},
    };
    static PyType_Spec spec{
        "builtins.Node",
        static_cast<int>(NodeObject::children_offset()),
        static_cast<int>(sizeof(PyObject*)),
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    // Node(...) skips type.__call__'s argument tuple and dict. Set on the
    // field rather than through the Py_tp_vectorcall slot, which 3.13 lacks.
    if (type) reinterpret_cast<PyTypeObject*>(type)->tp_vectorcall = node_vectorcall;
    return type;
}

NodeClass current_node_class() {
    InterpreterState* state = interpreter_state();
    if (!state || !state->node_type) {
        PyErr_SetString(PyExc_RuntimeError, "quorvane is not imported in this interpreter");
        return {nullptr, nullptr};
    }
    return {reinterpret_cast<PyTypeObject*>(state->node_type), state->node_pools};
}

Result<storage::PoolHeap*> new_node_pools() {
    if (!kNodesPooled) return nullptr;
    storage::PoolHeap* pools = storage::PoolHeap::create();
    if (!pools) return std::unexpected(no_memory());
    return pools;
}

NodeObject* allocate_node(const NodeClass& node_class, std::size_t child_count) {
    // Every field is constructed by the caller, so the memory is not
    // zero-filled first; the generic path would also add an unused slot.
    const std::size_t bytes = node_bytes(child_count);
    void* memory = pooled(bytes) ? node_class.pools->allocate(bytes) : PyObject_Malloc(bytes);
    if (!memory) return nullptr;
    // Both allocators hand out a length's blocks in address order, so the
    // nodes made next lie just ahead: asking for them now hides the wait for
    // memory no cache holds yet.
    __builtin_prefetch(static_cast<char*>(memory) + 256, 1);
    PyObject_InitVar(static_cast<PyVarObject*>(memory), node_class.type,
                     static_cast<Py_ssize_t>(child_count));
    return static_cast<NodeObject*>(memory);
}

Result<PyRef> make_node_object(const NodeClass& node_class, NodeRecord record) {
    return make_node_object(node_class, record.name, record.attrs, record.text,
                            record.children.size(), [&](PyObject** slots) {
                                for (PyRef& child : record.children) *slots++ = child.release();
                            });
}

Result<const NodeObject*> node_argument(PyObject* value) {
    if (!is_node(value)) return std::unexpected(cast_error(value, "Node"));
    return as_node(value);
}

Result<PyRef> attrs_object(const storage::AttributeMap& attrs) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return std::unexpected(raised());
    for (const auto& entry : attrs) {
        auto key = string_object(entry.key);
        if (!key) return key;
        auto value = string_object(entry.value);
        if (!value) return value;
        if (PyDict_SetItem(dict.get(), key->get(), value->get()) < 0) {
            return std::unexpected(raised());
        }
    }
    return dict;
}

Result<std::string_view> resolved(const storage::NodeString& text) {
    auto bytes = text.resolve();
    if (!bytes) return std::unexpected(internal_failure(std::move(bytes.error())));
    return *bytes;
}

Result<PyRef> string_object(const storage::NodeString& text) {
    auto bytes = resolved(text);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    return make_str(*bytes);
}

}  // namespace quorvane
