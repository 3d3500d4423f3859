// What the module keeps for each interpreter that imports it: its classes
// and the objects its calls reuse. They live in the module's own state, so
// they go with the module when its interpreter ends, and no object of one
// interpreter ever reaches another.
#pragma once

#include <Python.h>

#include <cstdint>

#include "src/boundary/failure.h"
#include "src/storage/pool_heap.h"

namespace quorvane {

// Zero-filled by the interpreter with the module, then filled by its
// execution; the fields are null again once the module is cleared.
struct InterpreterState {
    std::int64_t interpreter;  // its identifier
    PyObject* node_type;
    PyObject* search_type;
    PyObject* panic_exception;
    // The module's _restore_node, which pickled trees name.
    PyObject* restore_function;
    // Interned "name", "attrs", "children" and "text": the keys of to_dict.
    PyObject* dict_keys[4];
    // Where this interpreter's nodes are cut from, or null where they come
    // from its object allocator; only this interpreter's lock guards it.
    // Nodes may outlive the module, so it is abandoned, not destroyed.
    storage::PoolHeap* node_pools;
};

// The current interpreter's state; null, with no exception set, where the
// module was never executed or has been cleared. Cheap: a thread remembers
// the last interpreter it asked about.
InterpreterState* interpreter_state() noexcept;

// For the module definition: the state's size, and its execution, garbage
// collection and release steps. `fill` sets the fields of a new state.
using FillState = Result<void> (*)(InterpreterState& state, PyObject* module);
inline constexpr Py_ssize_t kInterpreterStateSize = sizeof(InterpreterState);
Result<InterpreterState*> execute_interpreter_state(PyObject* module, FillState fill);
int traverse_interpreter_state(PyObject* module, visitproc visit, void* arg);
int clear_interpreter_state(PyObject* module);
void free_interpreter_state(void* module);

}  // namespace quorvane
