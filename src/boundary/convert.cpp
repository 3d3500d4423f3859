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

Result<std::uint64_t> count64(PyObject* value) {
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) return std::unexpected(raised());
    const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred())
        return std::unexpected(raised());
    return static_cast<std::uint64_t>(converted);
}

namespace {

// numpy's booleans are no bool subclass.
bool is_numpy_bool(PyTypeObject* type) {
    PyRef name = PyRef::steal(PyType_GetName(type));
    PyRef module = PyRef::steal(PyType_GetModuleName(type));
    if (!name || !module) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_EqualToUTF8(module.get(), "numpy") &&
           (PyUnicode_EqualToUTF8(name.get(), "bool_") ||
            PyUnicode_EqualToUTF8(name.get(), "bool"));
}

}  // namespace

Result<bool> flag(PyObject* value) {
    if (PyBool_Check(value)) return value == Py_True;
    PyTypeObject* type = Py_TYPE(value);
    if (!is_numpy_bool(type)) return std::unexpected(cast_error(value, "bool"));
    auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
    if (!truth) {
        PyRef type_text = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(type)));
        const char* utf8 = type_text ? PyUnicode_AsUTF8(type_text.get()) : nullptr;
        if (!utf8) return std::unexpected(raised());
        return std::unexpected(type_error(std::string("object of type '") + utf8 +
                                          "' does not define a '__bool__' conversion"));
    }
    const int truth_value = truth(value);
    if (truth_value < 0) return std::unexpected(raised());
    return truth_value == 1;
}

Result<PyRef> make_str(std::string_view utf8) {
    PyRef result = PyRef::steal(
        PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
    if (!result) return std::unexpected(raised());
    return result;
}

}  // namespace quorvane
