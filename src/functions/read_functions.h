// read_string, read_bytes and read_file, the module functions of reading.
#pragma once

#include <Python.h>

namespace quorvane {

PyObject* read_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_file(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* read_string(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace quorvane
