#include "src/boundary/failure.h"

#include <cerrno>

#include "src/boundary/interpreter_state.h"
#include "src/read/records.h"

namespace quorvane {

namespace {

PyRef new_exception(PyObject* type, const std::string& message) {
    PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(), message.size()));
    if (!text) return {};
    return PyRef::steal(PyObject_CallOneArg(type, text.get()));
}

// A MemoryError with `text`, or, without one, the interpreter's own, which
// it makes without allocating.
PyRef memory_error(const std::string& text) {
    if (!text.empty()) return new_exception(PyExc_MemoryError, text);
    PyErr_NoMemory();
    return PyRef::steal(PyErr_GetRaisedException());
}

bool set_attribute(PyObject* exception, const char* name, const PyRef& value) {
    return value && PyObject_SetAttrString(exception, name, value.get()) == 0;
}

// A reader's ValueError tells where the fault stands and which file it is in.
bool add_source_attributes(PyObject* exception, const Failure& failure) {
    if (failure.position) {
        const storage::SourcePosition& at = *failure.position;
        PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(at.line));
        PyRef column = PyRef::steal(PyLong_FromUnsignedLongLong(at.column));
        if (!line || !column) return false;
        if (!set_attribute(exception, "offset",
                           PyRef::steal(PyLong_FromUnsignedLongLong(at.offset))) ||
            !set_attribute(exception, "lineno", line) ||
            !set_attribute(exception, "colno", column) ||
            !set_attribute(exception, "position",
                           PyRef::steal(PyTuple_Pack(2, line.get(), column.get())))) {
            return false;
        }
    }
    return !failure.filename || set_attribute(exception, "filename", failure.filename);
}

// The class the interpreter itself picks for a system error code, as
// OSError(code, ...) makes it, raised with the error's one text and its
// code as errno. The code is set after construction: an OSError made with
// it would take a second argument and print otherwise. Memory running out,
// a system's ENOMEM too, is MemoryError.
PyRef io_exception(const NativeFailure& error) {
    if (error.kind == NativeFailure::Kind::OutOfMemory ||
        (error.kind == NativeFailure::Kind::System && error.os_code == ENOMEM)) {
        return memory_error(error.io_text());
    }
    if (error.kind != NativeFailure::Kind::System)
        return new_exception(PyExc_OSError, error.io_text());
    PyRef chosen = PyRef::steal(PyObject_CallFunction(PyExc_OSError, "is", error.os_code, ""));
    if (!chosen) return {};
    PyRef exception =
        new_exception(reinterpret_cast<PyObject*>(Py_TYPE(chosen.get())), error.io_text());
    if (exception &&
        !set_attribute(exception.get(), "errno", PyRef::steal(PyLong_FromLong(error.os_code))))
        return {};
    return exception;
}

}  // namespace

Failure type_error(std::string message) {
    return {Failure::Kind::Type, std::move(message), {}, {}, nullptr, std::nullopt, {}};
}
Failure value_error(std::string message) {
    return {Failure::Kind::Value, std::move(message), {}, {}, nullptr, std::nullopt, {}};
}
Failure internal_failure(std::string message) {
    return {Failure::Kind::Internal, std::move(message), {}, {}, nullptr, std::nullopt, {}};
}
Failure native_failure(NativeFailure failure, std::string_view source) {
    if (failure.kind == NativeFailure::Kind::Stopped) return stopped_failure();
    if (failure.kind == NativeFailure::Kind::Internal)
        return internal_failure(std::move(failure.text));
    if (failure.is_input_output())
        return {Failure::Kind::Io, {}, {}, std::move(failure), nullptr, std::nullopt, {}};
    Failure value = value_error(read::format_read_error(failure));
    if (failure.at_offset()) value.position = storage::locate(source, failure.offset);
    return value;
}

Failure stopped_failure() {
    return {Failure::Kind::Stopped, {}, {}, {}, nullptr, std::nullopt, {}};
}

Failure raised() {
    PyRef exception = PyRef::steal(PyErr_GetRaisedException());
    if (!exception) return internal_failure("an interpreter call failed without an exception");
    return {Failure::Kind::Raised, {}, std::move(exception), {}, nullptr, std::nullopt, {}};
}

Failure no_memory() {
    return {Failure::Kind::Raised, {}, memory_error({}), {}, nullptr, std::nullopt, {}};
}

std::string type_qualname(PyTypeObject* type) {
    PyRef name = PyRef::steal(PyType_GetQualName(type));
    const char* utf8 = name ? PyUnicode_AsUTF8(name.get()) : nullptr;
    if (utf8) return utf8;
    PyErr_Clear();
    return "<failed to extract type name>";
}

Failure cast_error(PyObject* value, const char* target) {
    if (value == Py_None)
        return type_error(std::string("'None' is not an instance of '") + target + "'");
    return type_error("'" + type_qualname(Py_TYPE(value)) + "' object is not an instance of '" +
                      target + "'");
}

Failure while_processing(Failure failure, const char* argument) {
    failure.argument = argument;
    return failure;
}

PyObject* new_panic_exception_type() {
    return PyErr_NewExceptionWithDoc(
        "quorvane.PanicException",
        "Raised when quorvane finds one of its own invariants broken. It derives from\n"
        "BaseException so that 'except Exception' does not swallow it.",
        PyExc_BaseException, nullptr);
}

PyRef exception_of(Failure failure) {
    PyRef exception;
    switch (failure.kind) {
        case Failure::Kind::Type:
            exception = new_exception(PyExc_TypeError, failure.message);
            break;
        case Failure::Kind::Value:
            exception = new_exception(PyExc_ValueError, failure.message);
            if (exception && !add_source_attributes(exception.get(), failure)) exception = {};
            break;
        case Failure::Kind::Raised:
            exception = std::move(failure.exception);
            break;
        case Failure::Kind::Stopped:
            exception = PyRef::steal(PyErr_GetRaisedException());
            if (!exception)
                return exception_of(internal_failure("invariant: work stopped with no exception"));
            break;
        case Failure::Kind::Io:
            exception = io_exception(failure.io);
            break;
        case Failure::Kind::Internal: {
            // An interpreter that is ending may have dropped its class already.
            InterpreterState* state = interpreter_state();
            exception = new_exception(
                state && state->panic_exception ? state->panic_exception : PyExc_SystemError,
                failure.message);
            break;
        }
    }
    if (!exception) return PyRef::steal(PyErr_GetRaisedException());
    if (failure.argument) {
        std::string note = std::string("while processing '") + failure.argument + "'";
        PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(note.data(), note.size()));
        PyRef name = PyRef::steal(PyUnicode_FromString("add_note"));
        PyRef result;
        if (text && name)
            result =
                PyRef::steal(PyObject_CallMethodOneArg(exception.get(), name.get(), text.get()));
        if (!result) return PyRef::steal(PyErr_GetRaisedException());
    }
    return exception;
}

void raise_failure(Failure failure) {
    PyErr_SetRaisedException(exception_of(std::move(failure)).release());
}

}  // namespace quorvane
