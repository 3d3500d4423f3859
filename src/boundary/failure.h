// Failure values of the Python-facing code. Bodies return them; only the
// call boundary turns one into a Python exception.
#pragma once

#include <Python.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "platform/native_failure.h"
#include "src/boundary/py_ref.h"
#include "src/storage/source_position.h"

namespace quorvane {

struct Failure {
    enum class Kind : unsigned char {
        Type,      // TypeError with `message`
        Value,     // ValueError with `message`
        Raised,    // an interpreter exception, captured in `exception`
        Stopped,   // work done without the lock stopped for the exception a
                   // signal handler raised, which is the thread's current one
        Io,        // OSError subclass or MemoryError, from `io`
        Internal,  // PanicException with `message`
    };

    Kind kind;
    std::string message;
    PyRef exception;
    NativeFailure io = {};
    // Attached through add_note as "while processing '<argument>'".
    const char* argument = nullptr;
    // A reader's ValueError: where the fault stands (attributes offset,
    // lineno, colno and position) and the file read (filename).
    std::optional<storage::SourcePosition> position = std::nullopt;
    PyRef filename = {};
};

template <class T>
using Result = std::expected<T, Failure>;

Failure type_error(std::string message);
Failure value_error(std::string message);
Failure internal_failure(std::string message);
// The failure of the native layers as the Python-facing one: a stop (see
// platform/interrupt.h), an internal failure, an input/output error, or the
// reader's ValueError, placed in `source`, the document it was found in.
Failure native_failure(NativeFailure failure, std::string_view source = {});
// An invariant check's failure.
inline Failure internal_failure(NativeFailure failure) {
    return native_failure(std::move(failure));
}
// Made without the lock: the exception is set once the lock is back.
Failure stopped_failure();
// The type's qualified name, or a fixed text when even that fails.
std::string type_qualname(PyTypeObject* type);
// Captures the interpreter's current exception.
Failure raised();
// Memory ran out: the interpreter's own MemoryError.
Failure no_memory();
// "'{type}' object is not an instance of '{target}'" (or the None form).
Failure cast_error(PyObject* value, const char* target);
// Marks a failure as having occurred while converting `argument`.
Failure while_processing(Failure failure, const char* argument);

// Turns the failure into the thread's current exception.
void raise_failure(Failure failure);

// Builds the exception object a failure stands for (with note), without
// raising it; used where a failure becomes the cause of another.
PyRef exception_of(Failure failure);

// A new PanicException class, made once per interpreter.
PyObject* new_panic_exception_type();

}  // namespace quorvane
