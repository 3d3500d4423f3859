// The SearchType enumeration: which property a search compares.
#pragma once

#include <Python.h>

#include <cstdint>

#include "src/boundary/failure.h"

namespace quorvane {

enum class SearchKind : std::uint8_t { Tag = 0, Attr = 1, Text = 2 };

// A new SearchType class with its three members, made once per interpreter.
PyObject* new_search_type();

// The `by` argument converter: a SearchType member, else the cast error.
Result<SearchKind> search_kind_argument(PyObject* value);

}  // namespace quorvane
