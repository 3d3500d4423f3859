// write_string, write_bytes and write_file: the writer's only contact with
// the interpreter.
#pragma once

#include <Python.h>

namespace quorvane {

PyObject* write_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* write_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* write_string(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);

}  // namespace quorvane
