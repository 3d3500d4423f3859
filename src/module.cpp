// The module definition and its execution step.
#include <Python.h>

#include "src/boundary/call.h"
#include "src/boundary/interpreter_state.h"
#include "src/entities/node.h"
#include "src/entities/operations.h"
#include "src/entities/search_type.h"
#include "src/functions/read_functions.h"
#include "src/functions/write_functions.h"

namespace quorvane {

namespace {

// Appends `name` to __all__ (creating the list on first use) and sets the attribute.
Result<void> add_to_module(PyObject* module, const char* name, PyObject* object) {
    PyObject* all = nullptr;
    if (PyObject_GetOptionalAttrString(module, "__all__", &all) < 0)
        return std::unexpected(raised());
    PyRef all_list = PyRef::steal(all);
    if (!all_list) {
        all_list = PyRef::steal(PyList_New(0));
        if (!all_list || PyObject_SetAttrString(module, "__all__", all_list.get()) < 0)
            return std::unexpected(raised());
    }
    PyRef text = PyRef::steal(PyUnicode_FromString(name));
    if (!text) return std::unexpected(raised());
    if (!PyList_Check(all_list.get()))
        return std::unexpected(internal_failure("could not append __name__ to __all__"));
    if (PyList_Append(all_list.get(), text.get()) < 0) return std::unexpected(raised());
    if (PyObject_SetAttr(module, text.get(), object) < 0) return std::unexpected(raised());
    return {};
}

// Stores a new reference, or the exception its maker raised.
Result<void> keep(PyObject*& field, PyObject* made) {
    if (!made) return std::unexpected(raised());
    field = made;
    return {};
}

Result<void> fill_state(InterpreterState& state, PyObject* module) {
    auto pools = new_node_pools();
    if (!pools) return std::unexpected(std::move(pools.error()));
    state.node_pools = *pools;
    if (auto kept = keep(state.node_type, new_node_type()); !kept) return kept;
    if (auto kept = keep(state.search_type, new_search_type()); !kept) return kept;
    if (auto kept = keep(state.panic_exception, new_panic_exception_type()); !kept) return kept;
    if (auto kept = keep(state.restore_function, PyObject_GetAttrString(module, "_restore_node"));
        !kept)
        return kept;
    const char* const keys[] = {"name", "attrs", "children", "text"};
    for (int i = 0; i < 4; ++i) {
        if (auto kept = keep(state.dict_keys[i], PyUnicode_InternFromString(keys[i])); !kept)
            return kept;
    }
    return {};
}

Result<void> add_function(PyObject* module, PyMethodDef* definition) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return std::unexpected(raised());
    PyRef function = PyRef::steal(PyCFunction_NewEx(definition, module, module_name.get()));
    if (!function) return std::unexpected(raised());
    PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return std::unexpected(raised());
    const char* utf8 = PyUnicode_AsUTF8(name.get());
    if (!utf8) return std::unexpected(raised());
    return add_to_module(module, utf8, function.get());
}

PyMethodDef module_functions[] = {
    {"read_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_file)),
     METH_FASTCALL | METH_KEYWORDS, "read_file(file_path, root_tag)\n--\n\n"},
    {"read_string", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_string)),
     METH_FASTCALL | METH_KEYWORDS, "read_string(xml_string, root_tag)\n--\n\n"},
    {"write_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_file)),
     METH_FASTCALL | METH_KEYWORDS,
     "write_file(node, file_path, indent=None, default_xml_def=None)\n--\n\n"},
    {"write_string", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(write_string)),
     METH_FASTCALL | METH_KEYWORDS,
     "write_string(node, indent=None, default_xml_def=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Module functions outside __all__: what pickled trees need to load.
PyMethodDef private_functions[] = {
    {"_restore_node", restore_node, METH_O, "_restore_node(state)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject* module) {
    return call_boundary_status([&]() -> Result<void> {
        if (!PyModule_Check(module)) return std::unexpected(cast_error(module, "module"));
        auto state = execute_interpreter_state(module, fill_state);
        if (!state) return std::unexpected(std::move(state.error()));
        if (auto added = add_to_module(module, "SearchType", (*state)->search_type); !added)
            return added;
        if (auto added = add_to_module(module, "Node", (*state)->node_type); !added) return added;
        for (PyMethodDef* definition = module_functions; definition->ml_name; ++definition) {
            if (auto added = add_function(module, definition); !added) return added;
        }
        return {};
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // Each interpreter has classes and objects of its own.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "quorvane",
    .m_doc = "",
    .m_size = kInterpreterStateSize,
    .m_methods = private_functions,
    .m_slots = module_slots,
    .m_traverse = traverse_interpreter_state,
    .m_clear = clear_interpreter_state,
    .m_free = free_interpreter_state,
};

}  // namespace

}  // namespace quorvane

PyMODINIT_FUNC PyInit_quorvane() { return PyModuleDef_Init(&quorvane::module_definition); }
