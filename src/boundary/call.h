// The call boundary every function, method, property and slot runs inside:
// attach bookkeeping, argument binding, and the single place where a
// failure value becomes a Python exception.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>

#include "platform/interrupt.h"
#include "src/boundary/failure.h"
#include "src/boundary/py_ref.h"
#include "src/storage/source_buffer.h"

namespace quorvane {

// --- attachment and deferred releases --------------------------------------

// A buffer that reads `text` in place and holds a new reference to `owner`,
// the object of the attached interpreter that keeps the text alive. The
// buffer's last reference may go on any thread: the owner is released at
// once only when its own interpreter is attached there, else it waits in
// the pending-release pool until a call of that interpreter empties it.
storage::SourceBuffer* borrowing_source(std::string_view text, PyObject* owner);
void drain_pending_releases() noexcept;
// Releases what the pool holds for `interpreter`, which must be the one
// attached (used as an interpreter ends).
void release_pending_of(std::int64_t interpreter) noexcept;

class AttachScope {
public:
    AttachScope();
    ~AttachScope();
    AttachScope(const AttachScope&) = delete;
    AttachScope& operator=(const AttachScope&) = delete;
};

// Runs `work` (which must not touch interpreter objects) with the
// interpreter lock released. Work that may be long asks
// platform::stop_requested() and, told to stop, fails with
// stopped_failure() (or NativeFailure::stopped()).
template <class Work>
auto without_interpreter_lock(Work&& work) -> decltype(work());
// From inside without_interpreter_lock on the same thread: runs `work`
// with the interpreter attached again, for a moment (to call a Python
// file object's write, say).
template <class Work>
auto with_interpreter_lock_again(Work&& work) -> decltype(work());

// --- interrupts -----------------------------------------------------------------

// Lets a long walk with the lock held answer Ctrl-C: now and then it asks
// the interpreter to run the handlers of pending signals, and stops with
// the exception one raised (KeyboardInterrupt). A shared child makes a tree
// whose walk can be astronomically long, so every walk over nodes steps one.
class InterruptCheck {
public:
    // A few milliseconds of walking at most.
    static constexpr std::uint32_t kInterval = std::uint32_t{1} << 16;

    // Runs the pending handlers every kInterval-th step.
    Result<void> step() {
        if ((++steps_ & (kInterval - 1)) != 0) return {};
        return now();
    }
    static Result<void> now() {
        if (PyErr_CheckSignals() < 0) return std::unexpected(raised());
        return {};
    }

private:
    std::uint32_t steps_ = 0;
};

// --- binding -----------------------------------------------------------------

struct Signature {
    const char* message_name;  // as in messages: "read_string()", "Node.search()"
    const char* const* names;
    int count;
    int required;  // leading parameters without a default
};

// Fills slots[0..count) with borrowed values (null when not given). `args`
// holds `nargs` positional values followed by one value per name in `kwnames`.
Result<void> bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** slots);
// The same for a tuple and an optional dict (the constructor's convention).
Result<void> bind_tuple_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                                  PyObject** slots);

// An absent optional argument: not given, or None.
inline bool absent(PyObject* value) { return value == nullptr || value == Py_None; }

// --- the wrapper ---------------------------------------------------------------

namespace detail {
void set_unexpected_exception() noexcept;
}

// Runs `body` (returning Result<PyRef>) inside the boundary; returns a new
// reference or null with the exception set.
template <class Body>
PyObject* call_boundary(Body&& body) noexcept {
    AttachScope attached;
    try {
        Result<PyRef> result = body();
        if (result) return result->release();
        raise_failure(std::move(result.error()));
    } catch (...) {
        detail::set_unexpected_exception();
    }
    return nullptr;
}

// No callable of the module takes more parameters than this.
inline constexpr int kMaxParameters = 4;

// A vector-call entry point: binds the arguments, then runs `body(slots)`
// (returning Result<PyRef>) inside the boundary.
template <class Body>
PyObject* call_with_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames, Body&& body) noexcept {
    return call_boundary([&]() -> Result<PyRef> {
        PyObject* slots[kMaxParameters];
        if (auto bound = bind_arguments(signature, args, nargs, kwnames, slots); !bound) {
            return std::unexpected(std::move(bound.error()));
        }
        return body(slots);
    });
}

// For slots returning int (0 or -1).
template <class Body>
int call_boundary_status(Body&& body) noexcept {
    AttachScope attached;
    try {
        Result<void> result = body();
        if (result) return 0;
        raise_failure(std::move(result.error()));
    } catch (...) {
        detail::set_unexpected_exception();
    }
    return -1;
}

// --- implementation of without_interpreter_lock --------------------------------

namespace detail {

// Lets go of the interpreter while it lives. On the main thread, where
// signal handlers run, the work it covers is asked now and then to stop: the
// lock is taken back for a moment to run the handlers of pending signals,
// and the work stops when one raised (KeyboardInterrupt). That exception is
// the thread's current one once the lock is back.
class ReleasedInterpreter {
public:
    ReleasedInterpreter() noexcept;
    ~ReleasedInterpreter();
    ReleasedInterpreter(const ReleasedInterpreter&) = delete;
    ReleasedInterpreter& operator=(const ReleasedInterpreter&) = delete;

    // The innermost one on this thread.
    static ReleasedInterpreter& current() noexcept;
    void attach_again() noexcept;
    void release_again() noexcept;

private:
    static bool run_signal_handlers(void* self) noexcept;

    int saved_attachment_;
    PyThreadState* state_;
    PyObject* raised_ = nullptr;
    std::optional<platform::StopQuestionScope> question_;
    ReleasedInterpreter* outer_;
};

}  // namespace detail

template <class Work>
auto without_interpreter_lock(Work&& work) -> decltype(work()) {
    detail::ReleasedInterpreter released;
    return work();
}

template <class Work>
auto with_interpreter_lock_again(Work&& work) -> decltype(work()) {
    struct Attached {
        detail::ReleasedInterpreter& released = detail::ReleasedInterpreter::current();
        Attached() { released.attach_again(); }
        ~Attached() { released.release_again(); }
    } attached;
    return work();
}

}  // namespace quorvane
