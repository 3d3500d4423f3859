// Pickle state through quorvane._restore_node, in an interpreter embedded
// once, with the module compiled into this executable from the same sources
// and so carrying the fuzzer's instrumentation. A restore either raises
// ValueError (or MemoryError) or returns a tree whose every name, attribute
// and text reads as a str, and which pickles and loads back to a tree of the
// same strings and shape, sharing the same nodes. Anything else aborts: a
// PanicException, another exception type, or a failed check.
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "src/boundary/py_ref.h"

PyMODINIT_FUNC PyInit_quorvane();

namespace {

using quorvane::PyRef;

struct Interpreter {
    PyRef restore;  // quorvane._restore_node
    PyRef node_type;
    PyRef dumps;
    PyRef loads;
};

Interpreter* python = nullptr;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_restore: %s\n", what);
    // Displayed rather than printed, which would exit on SystemExit.
    if (PyObject* raised = PyErr_GetRaisedException()) PyErr_DisplayException(raised);
    std::fflush(stderr);
    std::abort();
}

void require(bool holds, const char* what) {
    if (!holds) fail(what);
}

// After a call that failed: true, with the error cleared, when it raised
// one of `allowed` (exactly that type); aborts on any other.
bool raised_only(std::initializer_list<PyObject*> allowed, const char* call) {
    PyObject* raised = PyErr_GetRaisedException();
    require(raised != nullptr, call);
    for (PyObject* type : allowed) {
        if (Py_IS_TYPE(raised, reinterpret_cast<PyTypeObject*>(type))) {
            Py_DECREF(raised);
            return true;
        }
    }
    PyErr_SetRaisedException(raised);
    fail(call);
}

// Out of memory is a clean outcome anywhere; every other failure is not.
bool out_of_memory(const char* call) { return raised_only({PyExc_MemoryError}, call); }

PyRef attribute(PyObject* node, const char* name) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(node, name));
    if (!value) out_of_memory(name);
    return value;
}

bool readable(PyObject* text) {
    Py_ssize_t size = 0;
    return PyUnicode_CheckExact(text) && PyUnicode_AsUTF8AndSize(text, &size) != nullptr;
}

// Every distinct node once, iteratively (a shared node may stand in
// exponentially many places): its name, attributes and text read as str and
// its children are nodes. False when memory ran out.
bool strings_readable(PyObject* root) {
    std::unordered_set<PyObject*> seen{root};
    std::vector<PyRef> unvisited{PyRef::borrow(root)};
    while (!unvisited.empty()) {
        const PyRef node = std::move(unvisited.back());
        unvisited.pop_back();
        const PyRef name = attribute(node.get(), "name");
        const PyRef attrs = attribute(node.get(), "attrs");
        const PyRef text = attribute(node.get(), "text");
        const PyRef children = attribute(node.get(), "children");
        if (!name || !attrs || !text || !children) return false;
        require(readable(name.get()), "name is not a readable str");
        require(text.get() == Py_None || readable(text.get()), "text is not a readable str");
        require(PyDict_CheckExact(attrs.get()), "attrs is not a dict");
        Py_ssize_t at = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(attrs.get(), &at, &key, &value)) {
            require(readable(key) && readable(value), "attribute is not a readable str");
        }
        require(PyList_CheckExact(children.get()), "children is not a list");
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(children.get()); ++i) {
            PyObject* child = PyList_GET_ITEM(children.get(), i);
            require(Py_IS_TYPE(child, reinterpret_cast<PyTypeObject*>(python->node_type.get())),
                    "child is not a Node");
            if (seen.insert(child).second) unvisited.push_back(PyRef::borrow(child));
        }
    }
    return true;
}

// 1 when `name` of both nodes compares equal, 0 when not, -1 when memory ran out.
int same_attribute(PyObject* a, PyObject* b, const char* name) {
    const PyRef left = attribute(a, name);
    const PyRef right = attribute(b, name);
    if (!left || !right) return -1;
    const int equal = PyObject_RichCompareBool(left.get(), right.get(), Py_EQ);
    if (equal < 0 && out_of_memory(name)) return -1;
    return equal;
}

// The tree and its pickled and loaded copy, walked side by side, every pair
// of distinct nodes once: the same names, attributes in the same order,
// texts and child counts, and a node shared in one exactly where its
// counterpart is shared in the other. False when memory ran out.
bool same_tree(PyObject* tree, PyObject* copy) {
    std::unordered_map<PyObject*, PyObject*> copy_of{{tree, copy}};
    std::unordered_map<PyObject*, PyObject*> original_of{{copy, tree}};
    std::vector<std::pair<PyRef, PyRef>> unvisited;
    unvisited.emplace_back(PyRef::borrow(tree), PyRef::borrow(copy));
    while (!unvisited.empty()) {
        const auto [a, b] = std::move(unvisited.back());
        unvisited.pop_back();
        for (const char* name : {"name", "text"}) {
            const int equal = same_attribute(a.get(), b.get(), name);
            if (equal < 0) return false;
            require(equal == 1, name);
        }
        // Attribute order is kept, so the items are compared as lists.
        const PyRef attrs_a = attribute(a.get(), "attrs");
        const PyRef attrs_b = attribute(b.get(), "attrs");
        if (!attrs_a || !attrs_b) return false;
        const PyRef items_a = PyRef::steal(PyDict_Items(attrs_a.get()));
        const PyRef items_b = PyRef::steal(PyDict_Items(attrs_b.get()));
        if (!items_a || !items_b) {
            out_of_memory("attrs.items");
            return false;
        }
        const int equal = PyObject_RichCompareBool(items_a.get(), items_b.get(), Py_EQ);
        if (equal < 0 && out_of_memory("attrs")) return false;
        require(equal == 1, "attrs");

        const PyRef children_a = attribute(a.get(), "children");
        const PyRef children_b = attribute(b.get(), "children");
        if (!children_a || !children_b) return false;
        const Py_ssize_t count = PyList_GET_SIZE(children_a.get());
        require(PyList_GET_SIZE(children_b.get()) == count, "child count");
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* child_a = PyList_GET_ITEM(children_a.get(), i);
            PyObject* child_b = PyList_GET_ITEM(children_b.get(), i);
            const auto found_a = copy_of.find(child_a);
            const auto found_b = original_of.find(child_b);
            if (found_a != copy_of.end() || found_b != original_of.end()) {
                require(found_a != copy_of.end() && found_a->second == child_b &&
                            found_b != original_of.end() && found_b->second == child_a,
                        "shared nodes differ");
                continue;
            }
            copy_of.emplace(child_a, child_b);
            original_of.emplace(child_b, child_a);
            unvisited.emplace_back(PyRef::borrow(child_a), PyRef::borrow(child_b));
        }
    }
    return true;
}

void check_restored(PyObject* tree) {
    require(Py_IS_TYPE(tree, reinterpret_cast<PyTypeObject*>(python->node_type.get())),
            "restore returned something other than a Node");
    if (!strings_readable(tree)) return;
    const PyRef pickled = PyRef::steal(PyObject_CallOneArg(python->dumps.get(), tree));
    if (!pickled) {
        out_of_memory("pickle.dumps of a restored tree");
        return;
    }
    const PyRef copy = PyRef::steal(PyObject_CallOneArg(python->loads.get(), pickled.get()));
    if (!copy) {
        out_of_memory("pickle.loads of a restored tree's dump");
        return;
    }
    same_tree(tree, copy.get());
}

PyRef imported(const char* module, const char* name) {
    const PyRef loaded = PyRef::steal(PyImport_ImportModule(module));
    if (!loaded) fail(module);
    PyRef found = PyRef::steal(PyObject_GetAttrString(loaded.get(), name));
    if (!found) fail(name);
    return found;
}

void check_status(PyStatus status) {
    if (PyStatus_Exception(status)) Py_ExitStatusException(status);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PyPreConfig preconfig;
    PyPreConfig_InitIsolatedConfig(&preconfig);
    // The system allocator, so that the address sanitizer sees each object's bounds.
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    check_status(Py_PreInitialize(&preconfig));
    if (PyImport_AppendInittab("quorvane", PyInit_quorvane) < 0) fail("PyImport_AppendInittab");
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.install_signal_handlers = 0;  // the signals stay libFuzzer's
    config.site_import = 0;
    const PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    check_status(status);
    python = new Interpreter{imported("quorvane", "_restore_node"), imported("quorvane", "Node"),
                             imported("pickle", "dumps"), imported("pickle", "loads")};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const PyRef state = PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data),
                                                               static_cast<Py_ssize_t>(size)));
    if (!state) {
        out_of_memory("bytes");
        return 0;
    }
    const PyRef tree = PyRef::steal(PyObject_CallOneArg(python->restore.get(), state.get()));
    if (!tree) {
        raised_only({PyExc_ValueError, PyExc_MemoryError}, "restore raised another exception");
        return 0;
    }
    check_restored(tree.get());
    return 0;
}
