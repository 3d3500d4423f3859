// The Node operations beyond construction and properties: search, dictionary
// conversion and the text outline.
#pragma once

#include <Python.h>

namespace quorvane {

// The method table of Node.
extern PyMethodDef node_methods[];

// str(node) and repr(node).
PyObject* node_str(PyObject* self);
PyObject* node_repr(PyObject* self);

// Methods (METH_FASTCALL | METH_KEYWORDS unless noted).
PyObject* node_to_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* node_search_by_name(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* node_search_by_attr(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* node_search_by_text(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* node_search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// METH_CLASS; the class argument plays no part.
PyObject* node_from_dict(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// METH_NOARGS.
PyObject* node_to_dict(PyObject* self, PyObject* unused);

// Pickling and copying: __reduce__ and __copy__ (METH_NOARGS), __deepcopy__
// (METH_O), and the module's private _restore_node (METH_O), which pickle
// calls with the state __reduce__ made.
PyObject* node_reduce(PyObject* self, PyObject* unused);
PyObject* node_copy(PyObject* self, PyObject* unused);
PyObject* node_deepcopy(PyObject* self, PyObject* memo);
PyObject* restore_node(PyObject* module, PyObject* state);

}  // namespace quorvane
