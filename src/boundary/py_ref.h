// The one owning handle for interpreter references. Debug builds check
// that every count it changes is changed by a thread attached to the
// interpreter.
#pragma once

#include <Python.h>

#include <cassert>
#include <utility>

namespace quorvane {

class PyRef {
public:
    PyRef() = default;
    // Takes over a reference the caller owns (may be null).
    static PyRef steal(PyObject* object) { return PyRef(object); }
    // Takes a new reference to a borrowed object.
    static PyRef borrow(PyObject* object) {
        assert_attached(object);
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(const PyRef& other)
        : object_(Py_XNewRef((assert_attached(other.object_), other.object_))) {}
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~PyRef() {
        assert_attached(object_);
        Py_XDECREF(object_);
    }

    PyObject* get() const { return object_; }
    // Hands the reference to the caller.
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) : object_(object) {}
    static void assert_attached([[maybe_unused]] PyObject* object) {
        assert(!object || PyGILState_Check());
    }
    PyObject* object_ = nullptr;
};

}  // namespace quorvane
