#include "boundary/call.h"
#include "boundary/convert.h"
#include "entities/node.h"
#include "entities/operations.h"

namespace quorvane {

PyObject* node_repr(PyObject* self) {
    return call_boundary([&]() -> Result<PyRef> {
        auto name = as_node(self)->name.resolve();
        if (!name) return std::unexpected(internal_failure(std::move(name.error())));
        std::string text = "Node(";
        text += *name;
        text += ')';
        return make_str(text);
    });
}

PyObject* node_str(PyObject* self) { return node_repr(self); }

PyMethodDef node_methods[] = {
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace quorvane
