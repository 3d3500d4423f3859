// Process-wide objects made once, on first need, and never released.
#pragma once

#include <Python.h>

#include <atomic>

namespace quorvane {

// Returns the object in `slot`, creating it with `make` (a new reference, or
// null with an exception set) when absent. Two threads may race to create
// it; the loser's object is dropped. No lock is held while `make` runs, so
// it may call back into the interpreter freely.
template <class Make>
PyObject* once_object(std::atomic<PyObject*>& slot, Make make) {
    PyObject* existing = slot.load(std::memory_order_acquire);
    if (existing) return existing;
    PyObject* made = make();
    if (!made) return nullptr;
    if (!slot.compare_exchange_strong(existing, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);
        return existing;
    }
    return made;
}

}  // namespace quorvane
