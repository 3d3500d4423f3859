// Argument converters. Each returns the converted value or the failure the
// caller reports for its parameter (see while_processing).
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "src/boundary/failure.h"

namespace quorvane {

// The strict UTF-8 form of a str, borrowed from the interpreter's cache on
// the object: valid while the object lives.
Result<std::string_view> text_view(PyObject* value);
// The same, copied.
Result<std::string> text(PyObject* value);
// int or __index__ in 0..255 (spacing).
Result<std::uint8_t> count8(PyObject* value);
// int, bool or __index__ -> signed 32-bit (depth).
Result<std::int32_t> int32(PyObject* value);
// int or __index__ in 0..2**64-1 (indentation).
Result<std::uint64_t> count64(PyObject* value);
// bool, or numpy's bool through its own truth value (flags).
Result<bool> flag(PyObject* value);

// A Python str from UTF-8 bytes known to be valid.
Result<PyRef> make_str(std::string_view utf8);

}  // namespace quorvane
