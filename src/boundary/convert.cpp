#include "src/boundary/convert.h"

namespace quorvane {

Result<std::string_view> text_view(PyObject* value) {
    if (!PyUnicode_Check(value)) return std::unexpected(cast_error(value, "str"));
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
    if (!utf8) return std::unexpected(raised());
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

Result<std::string> text(PyObject* value) {
    auto view = text_view(value);
    if (!view) return std::unexpected(std::move(view).error());
    return std::string(*view);
}

Result<std::uint8_t> count8(PyObject* value) {
    long converted = PyLong_AsLong(value);
    if (converted == -1 && PyErr_Occurred()) return std::unexpected(raised());
    if (converted < 0 || converted > 255) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return std::unexpected(raised());
    }
    return static_cast<std::uint8_t>(converted);
}

Result<std::int32_t> int32(PyObject* value) {
    int converted = PyLong_AsInt(value);
    if (converted == -1 && PyErr_Occurred()) return std::unexpected(raised());
    return converted;
}

Result<PyRef> make_str(std::string_view utf8) {
    PyRef result = PyRef::steal(
        PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
    if (!result) return std::unexpected(creation_failure());
    return result;
}

}  // namespace quorvane
