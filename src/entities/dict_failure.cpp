#include "src/entities/dict_failure.h"

#include <string_view>
#include <unordered_set>

namespace quorvane {

namespace {

// "{class qualname}: {str()}", then ", caused by " and the same for each
// exception along the __cause__ chain (a cyclic chain is cut where it closes).
std::string render_exception(PyObject* exception) {
    std::string text;
    std::unordered_set<PyObject*> seen;
    PyRef current = PyRef::borrow(exception);
    while (current && seen.insert(current.get()).second) {
        if (current.get() != exception) text += ", caused by ";
        text += type_qualname(Py_TYPE(current.get()));
        text += ": ";
        PyRef shown = PyRef::steal(PyObject_Str(current.get()));
        Py_ssize_t length = 0;
        const char* utf8 = shown ? PyUnicode_AsUTF8AndSize(shown.get(), &length) : nullptr;
        if (utf8) {
            text.append(utf8, static_cast<std::size_t>(length));
        } else {
            PyErr_Clear();
            text += "<exception str() failed>";
        }
        current = PyRef::steal(PyException_GetCause(current.get()));
    }
    return text;
}

std::string render_failure(const Failure& failure) {
    switch (failure.kind) {
        case Failure::Kind::Type:
            return "TypeError: " + failure.message;
        case Failure::Kind::Value:
            return "ValueError: " + failure.message;
        default:
            return render_exception(exception_of(failure).get());
    }
}

constexpr std::string_view kEnumHead =
    "failed to extract enum HashmapTypes ('String | Vec | NullableString | Map')";

void variant_line(std::string& out, const char* kind) {
    out += "\n- variant ";
    out += kind;
    out += " (";
    out += kind;
    out += "): TypeError: failed to extract field HashmapTypes::";
    out += kind;
    out += ".0, caused by ";
}

}  // namespace

DescriptionFailure enum_failure(const Failure& string_failure, DescriptionFailure vec_failure,
                                const Failure& nullable_failure, const Failure& map_failure) {
    std::string prefix(kEnumHead);
    variant_line(prefix, "String");
    prefix += render_failure(string_failure);
    variant_line(prefix, "Vec");
    std::string suffix;
    variant_line(suffix, "NullableString");
    suffix += render_failure(nullable_failure);
    variant_line(suffix, "Map");
    suffix += render_failure(map_failure);
    if (vec_failure.is_enum()) {
        prefix += "TypeError: ";
    } else {
        vec_failure.core = render_failure(vec_failure.simple);
    }
    vec_failure.prefixes.push_back(std::move(prefix));
    vec_failure.suffixes.push_back(std::move(suffix));
    return vec_failure;
}

}  // namespace quorvane
