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

}  // namespace quorvane
