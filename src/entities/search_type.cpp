#include "src/entities/search_type.h"

#include <iterator>
#include <string>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"

namespace quorvane {

namespace {

struct SearchTypeObject {
    PyObject ob_base;
    SearchKind kind;
};

constexpr const char* kMemberNames[] = {"Tag", "Attr", "Text"};

SearchKind kind_of(PyObject* member) {
    return reinterpret_cast<const SearchTypeObject*>(member)->kind;
}

PyObject* member_repr(PyObject* self) {
    return call_boundary([&] {
        return make_str(std::string("SearchType.") + kMemberNames[static_cast<int>(kind_of(self))]);
    });
}

PyObject* member_int(PyObject* self) {
    return call_boundary([&]() -> Result<PyRef> {
        PyRef value = PyRef::steal(PyLong_FromLong(static_cast<long>(kind_of(self))));
        if (!value) return std::unexpected(raised());
        return value;
    });
}

// Every interpreter's SearchType class has this representation, and none
// can be subclassed: the test needs no lookup of the current interpreter's.
bool is_member(PyObject* object) { return Py_TYPE(object)->tp_repr == member_repr; }

// Equal to a member or to anything the integer protocol turns into the same
// 64-bit value; everything else is left to Python's defaults.
PyObject* member_richcompare(PyObject* self, PyObject* other, int op) {
    return call_boundary([&]() -> Result<PyRef> {
        if (op != Py_EQ && op != Py_NE) return PyRef::borrow(Py_NotImplemented);
        long long theirs;
        if (is_member(other)) {
            theirs = static_cast<long long>(kind_of(other));
        } else {
            theirs = PyLong_AsLongLong(other);
            if (theirs == -1 && PyErr_Occurred()) {
                PyErr_Clear();
                return PyRef::borrow(Py_NotImplemented);
            }
        }
        const bool equal = theirs == static_cast<long long>(kind_of(self));
        return PyRef::borrow(equal == (op == Py_EQ) ? Py_True : Py_False);
    });
}

// The members live in their class's dictionary and refer to their class:
// the collector must see that cycle to free the class with its interpreter.
int member_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    return 0;
}

}  // namespace

PyObject* new_search_type() {
    static PyType_Slot slots[] = {
        {Py_tp_traverse, reinterpret_cast<void*>(member_traverse)},
        {Py_tp_repr, reinterpret_cast<void*>(member_repr)},
        {Py_tp_str, reinterpret_cast<void*>(member_repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(member_richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
        {Py_nb_int, reinterpret_cast<void*>(member_int)},
        {0, nullptr},
    };
    static PyType_Spec spec{
        "builtins.SearchType",
        static_cast<int>(sizeof(SearchTypeObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION |
            Py_TPFLAGS_HAVE_GC,
        slots,
    };
    PyRef type = PyRef::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    // The members live in the class dictionary: the type is immutable to
    // Python code, so they are put there directly before anyone sees it.
    PyRef dict = PyRef::steal(PyType_GetDict(type_object));
    if (!dict) return nullptr;
    for (std::size_t value = 0; value < std::size(kMemberNames); ++value) {
        PyRef member = PyRef::steal(type_object->tp_alloc(type_object, 0));
        if (!member) return nullptr;
        reinterpret_cast<SearchTypeObject*>(member.get())->kind = static_cast<SearchKind>(value);
        if (PyDict_SetItemString(dict.get(), kMemberNames[value], member.get()) < 0) return nullptr;
    }
    PyType_Modified(type_object);
    return type.release();
}

Result<SearchKind> search_kind_argument(PyObject* value) {
    if (!is_member(value)) return std::unexpected(cast_error(value, "SearchType"));
    return kind_of(value);
}

}  // namespace quorvane
