#include "src/boundary/interpreter_state.h"

#include "src/boundary/call.h"

namespace quorvane {

namespace {

// The interpreter's own dictionary names the state of the module last
// executed there, through a capsule that owns nothing: the module does.
constexpr const char* kStateKey = "quorvane.interpreter_state";
constexpr const char* kCapsuleName = "quorvane.InterpreterState";

// Interpreter identifiers are never reused, so an entry left by an
// interpreter that has ended never matches again.
struct RememberedState {
    std::int64_t interpreter = -1;
    InterpreterState* state = nullptr;
};
thread_local RememberedState remembered;

InterpreterState* state_of(PyObject* module) {
    return static_cast<InterpreterState*>(PyModule_GetState(module));
}

// The state the interpreter's dictionary names, or null without an exception.
InterpreterState* named_state(PyInterpreterState* interpreter) {
    PyObject* dict = PyInterpreterState_GetDict(interpreter);
    if (!dict) return nullptr;
    PyObject* capsule = nullptr;
    if (PyDict_GetItemStringRef(dict, kStateKey, &capsule) <= 0) {
        PyErr_Clear();
        return nullptr;
    }
    auto* state = static_cast<InterpreterState*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    Py_DECREF(capsule);
    if (!state) PyErr_Clear();
    return state;
}

}  // namespace

InterpreterState* interpreter_state() noexcept {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (remembered.interpreter == id) return remembered.state;
    InterpreterState* state = named_state(interpreter);
    if (state) remembered = {id, state};
    return state;
}

Result<InterpreterState*> execute_interpreter_state(PyObject* module, FillState fill) {
    InterpreterState* state = state_of(module);
    if (!state) return std::unexpected(raised());
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    state->interpreter = PyInterpreterState_GetID(interpreter);
    if (auto filled = fill(*state, module); !filled) return std::unexpected(filled.error());
    PyObject* dict = PyInterpreterState_GetDict(interpreter);
    if (!dict) return std::unexpected(internal_failure("the interpreter has no dictionary"));
    PyRef capsule = PyRef::steal(PyCapsule_New(state, kCapsuleName, nullptr));
    if (!capsule || PyDict_SetItemString(dict, kStateKey, capsule.get()) < 0)
        return std::unexpected(raised());
    remembered = {state->interpreter, state};
    return state;
}

int traverse_interpreter_state(PyObject* module, visitproc visit, void* arg) {
    InterpreterState* state = state_of(module);
    if (!state) return 0;
    Py_VISIT(state->node_type);
    Py_VISIT(state->search_type);
    Py_VISIT(state->panic_exception);
    Py_VISIT(state->restore_function);
    return 0;
}

int clear_interpreter_state(PyObject* module) {
    InterpreterState* state = state_of(module);
    if (!state) return 0;
    Py_CLEAR(state->node_type);
    Py_CLEAR(state->search_type);
    Py_CLEAR(state->panic_exception);
    Py_CLEAR(state->restore_function);
    for (PyObject*& key : state->dict_keys) Py_CLEAR(key);
    return 0;
}

void free_interpreter_state(void* module) {
    auto* object = static_cast<PyObject*>(module);
    clear_interpreter_state(object);
    InterpreterState* state = state_of(object);
    if (!state) return;
    release_pending_of(state->interpreter);
    if (state->node_pools) {
        state->node_pools->abandon();
        state->node_pools = nullptr;
    }
    if (remembered.state == state) remembered = {};
    // Forgotten by the interpreter too, unless a later module replaced it.
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    if (named_state(interpreter) == state) {
        if (PyObject* dict = PyInterpreterState_GetDict(interpreter)) {
            if (PyDict_PopString(dict, kStateKey, nullptr) < 0) PyErr_Clear();
        }
    }
}

}  // namespace quorvane
