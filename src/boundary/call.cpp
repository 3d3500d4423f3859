#include "src/boundary/call.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "src/storage/quoted.h"

namespace quorvane {

namespace {

thread_local int attach_count = 0;
thread_local detail::ReleasedInterpreter* innermost_release = nullptr;

std::int64_t attached_interpreter() noexcept {
    return PyInterpreterState_GetID(PyInterpreterState_Get());
}

// A reference dropped without the lock, to be released by its own
// interpreter, the only one that may touch it.
struct PendingRelease {
    PyObject* object;
    std::int64_t interpreter;
};

struct PendingReleases {
    std::mutex mutex;
    std::vector<PendingRelease> objects;
    std::atomic<bool> nonempty{false};
};

PendingReleases& pending() {
    // Leaked on purpose: releases may still be deferred during interpreter shutdown.
    static auto* pool = new PendingReleases();
    return *pool;
}

// The pool's lock is held across a fork, as the C library holds its heap's
// locks: a child forked while another thread deferred a release would
// otherwise never get it.
[[maybe_unused]] const int fork_handlers =
    pthread_atfork([] { pending().mutex.lock(); }, [] { pending().mutex.unlock(); },
                   [] { pending().mutex.unlock(); });

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                text += " and ";
            } else {
                text += i + 1 == names.size() ? ", and " : ", ";
            }
        }
        text += storage::quoted(names[i]);
    }
    return text;
}

Failure too_many_positional(const Signature& sig, Py_ssize_t given) {
    std::string text = sig.message_name;
    if (sig.required == sig.count) {
        text += " takes " + std::to_string(sig.count);
    } else {
        text += " takes from " + std::to_string(sig.required) + " to " + std::to_string(sig.count);
    }
    text += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
            " given";
    return type_error(std::move(text));
}

Result<void> bind_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** slots) {
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &length);
    if (!utf8) return std::unexpected(raised());
    std::string_view wanted(utf8, length);
    for (int i = 0; i < sig.count; ++i) {
        if (wanted == sig.names[i]) {
            if (slots[i]) {
                return std::unexpected(type_error(std::string(sig.message_name) +
                                                  " got multiple values for argument '" +
                                                  std::string(wanted) + "'"));
            }
            slots[i] = value;
            return {};
        }
    }
    return std::unexpected(type_error(std::string(sig.message_name) +
                                      " got an unexpected keyword argument '" +
                                      std::string(wanted) + "'"));
}

Result<void> check_required(const Signature& sig, Py_ssize_t nargs, PyObject** slots) {
    if (nargs >= sig.required) return {};
    std::vector<const char*> missing;
    for (int i = 0; i < sig.required; ++i) {
        if (!slots[i]) missing.push_back(sig.names[i]);
    }
    if (missing.empty()) return {};
    return std::unexpected(type_error(std::string(sig.message_name) + " missing " +
                                      std::to_string(missing.size()) + " required positional " +
                                      (missing.size() == 1 ? "argument" : "arguments") + ": " +
                                      name_list(missing)));
}

// A SourceBuffer's release of its owner.
void release_or_defer(void* owner, std::int64_t interpreter) noexcept {
    auto* object = static_cast<PyObject*>(owner);
    if (attach_count > 0 && attached_interpreter() == interpreter) {
        Py_DECREF(object);
        return;
    }
    PendingReleases& pool = pending();
    std::lock_guard lock(pool.mutex);
    try {
        pool.objects.push_back({object, interpreter});
    } catch (const std::bad_alloc&) {
        // Without room to defer it, the reference is kept for good: a leak,
        // but never a count touched without its interpreter.
        return;
    }
    pool.nonempty.store(true, std::memory_order_release);
}

}  // namespace

storage::SourceBuffer* borrowing_source(std::string_view text, PyObject* owner) {
    storage::SourceBuffer* buffer =
        storage::SourceBuffer::borrowing(text, owner, attached_interpreter(), release_or_defer);
    // Taken once the buffer exists: a buffer that could not be made holds nothing.
    Py_INCREF(owner);
    return buffer;
}

void release_pending_of(std::int64_t interpreter) noexcept {
    PendingReleases& pool = pending();
    if (!pool.nonempty.load(std::memory_order_acquire)) return;
    std::vector<PyObject*> objects;
    {
        std::lock_guard lock(pool.mutex);
        try {
            objects.reserve(pool.objects.size());
        } catch (const std::bad_alloc&) {
            return;  // left for a later drain
        }
        std::erase_if(pool.objects, [&](const PendingRelease& pending) {
            if (pending.interpreter != interpreter) return false;
            objects.push_back(pending.object);
            return true;
        });
        pool.nonempty.store(!pool.objects.empty(), std::memory_order_release);
    }
    for (PyObject* object : objects) Py_DECREF(object);
}

void drain_pending_releases() noexcept {
    if (!pending().nonempty.load(std::memory_order_acquire)) return;
    release_pending_of(attached_interpreter());
}

AttachScope::AttachScope() {
    ++attach_count;
    drain_pending_releases();
}

AttachScope::~AttachScope() { --attach_count; }

namespace detail {

ReleasedInterpreter::ReleasedInterpreter() noexcept
    : saved_attachment_(std::exchange(attach_count, 0)),
      state_(PyEval_SaveThread()),
      outer_(std::exchange(innermost_release, this)) {
    if (platform::on_main_thread())
        question_.emplace(platform::StopQuestion{&run_signal_handlers, this});
}

ReleasedInterpreter::~ReleasedInterpreter() {
    question_.reset();
    innermost_release = outer_;
    attach_again();
    drain_pending_releases();
    if (raised_) PyErr_SetRaisedException(raised_);
}

ReleasedInterpreter& ReleasedInterpreter::current() noexcept { return *innermost_release; }

void ReleasedInterpreter::attach_again() noexcept {
    PyEval_RestoreThread(state_);
    attach_count = saved_attachment_;
}

void ReleasedInterpreter::release_again() noexcept {
    saved_attachment_ = std::exchange(attach_count, 0);
    state_ = PyEval_SaveThread();
}

bool ReleasedInterpreter::run_signal_handlers(void* self) noexcept {
    auto& released = *static_cast<ReleasedInterpreter*>(self);
    released.attach_again();
    const bool raised = PyErr_CheckSignals() < 0;
    if (raised) released.raised_ = PyErr_GetRaisedException();
    released.release_again();
    return raised;
}

void set_unexpected_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        raise_failure(no_memory());
    } catch (const std::exception& error) {
        raise_failure(internal_failure(error.what()));
    } catch (...) {
        raise_failure(internal_failure("unknown native exception"));
    }
}

}  // namespace detail

Result<void> bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** slots) {
    if (nargs > sig.count) return std::unexpected(too_many_positional(sig, nargs));
    for (int i = 0; i < sig.count; ++i) slots[i] = i < nargs ? args[i] : nullptr;
    if (kwnames) {
        const Py_ssize_t keywords = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            auto bound = bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
            if (!bound) return bound;
        }
    }
    return check_required(sig, nargs, slots);
}

Result<void> bind_tuple_arguments(const Signature& sig, PyObject* args, PyObject* kwargs,
                                  PyObject** slots) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (nargs > sig.count) return std::unexpected(too_many_positional(sig, nargs));
    for (int i = 0; i < sig.count; ++i) slots[i] = i < nargs ? PyTuple_GET_ITEM(args, i) : nullptr;
    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject* name;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            auto bound = bind_keyword(sig, name, value, slots);
            if (!bound) return bound;
        }
    }
    return check_required(sig, nargs, slots);
}

}  // namespace quorvane
