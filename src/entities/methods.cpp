#include "src/entities/operations.h"

namespace quorvane {

namespace {

template <class Function>
PyCFunction method(Function function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef node_methods[] = {
    {"__to_string", method(node_to_string), kFastcall, "__to_string($self, spacing=None)\n--\n\n"},
    {"search_by_name", method(node_search_by_name), kFastcall,
     "search_by_name($self, name, depth=None)\n--\n\n"},
    {"search_by_attr", method(node_search_by_attr), kFastcall,
     "search_by_attr($self, key, depth=None)\n--\n\n"},
    {"search_by_text", method(node_search_by_text), kFastcall,
     "search_by_text($self, text, depth=None)\n--\n\n"},
    {"search", method(node_search), kFastcall, "search($self, by, value, depth=None)\n--\n\n"},
    {"from_dict", method(node_from_dict), METH_CLASS | kFastcall, "from_dict($cls, dict_)\n--\n\n"},
    {"to_dict", method(node_to_dict), METH_NOARGS, "to_dict($self)\n--\n\n"},
    {"__reduce__", method(node_reduce), METH_NOARGS, "__reduce__($self)\n--\n\n"},
    {"__copy__", method(node_copy), METH_NOARGS, "__copy__($self)\n--\n\n"},
    {"__deepcopy__", method(node_deepcopy), METH_O, "__deepcopy__($self, memo, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvane
