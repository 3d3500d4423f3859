// repr() and the text outline of str() and __to_string.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/entities/operations.h"

namespace quorvane {

namespace {

// Each level indents two more spaces, but the count stops growing at 255:
// past about 127 levels the indentation stays level instead, which keeps the
// outline linear in the size of the tree, so a tree of any depth renders.
std::uint8_t child_spacing(std::uint8_t spacing) {
    return static_cast<std::uint8_t>(std::min(spacing + 2, 255));
}

// Writes everything a node shows before its children's outlines.
Result<void> open_node(std::string& out, const NodeObject& node, std::uint8_t spacing) {
    auto line = [&](std::string_view label) {
        out += '\n';
        out.append(spacing, ' ');
        out += label;
    };
    auto name = resolved(node.name);
    if (!name) return std::unexpected(std::move(name.error()));
    out.append(spacing, ' ');
    out += "Name: ";
    out += *name;
    if (!node.attrs.empty()) {
        line("Attributes:");
        for (const auto& entry : node.attrs) {
            auto key = resolved(entry.key);
            if (!key) return std::unexpected(std::move(key.error()));
            auto value = resolved(entry.value);
            if (!value) return std::unexpected(std::move(value.error()));
            line(*key);
            out += ": ";
            out += *value;
        }
    }
    if (node.text) {
        auto text = resolved(*node.text);
        if (!text) return std::unexpected(std::move(text.error()));
        line("Text: ");
        out += *text;
    }
    if (Py_SIZE(&node) > 0) line("Children:");
    return {};
}

// The outline is written in one pass into one string: a child's outline
// appears verbatim inside its parent's, so nothing is built twice. An open
// node keeps the indentation of its own lines.
class Outline : public NodeWalk {
public:
    using State = std::uint8_t;

    explicit Outline(std::uint8_t spacing) : spacing_(spacing) {}

    bool enter(PyObject* object, std::span<PyObject* const>,
               storage::WalkStack<PyObject*, State>& stack) {
        const NodeObject* node = as_node(object);
        const State* parent = stack.parent();
        std::uint8_t spacing = spacing_;
        if (parent) {
            spacing = child_spacing(*parent);
            out += '\n';
            out.append(*parent, ' ');
        }
        if (auto opened = open_node(out, *node, spacing); !opened)
            return fail(std::move(opened.error()));
        if (auto children = node->children(); !children.empty()) {
            stack.descend(children, spacing);
        } else if (parent) {
            out += '\n';
        }
        return true;
    }
    bool leave(State&, State* parent) {
        if (parent) out += '\n';
        return true;
    }

    std::string out;

private:
    const std::uint8_t spacing_;
};

Result<PyRef> render_node(const NodeObject* root, std::uint8_t spacing) {
    Outline outline(spacing);
    if (auto walked = walk_locked(outline, NodeWalk::object(root)); !walked)
        return std::unexpected(std::move(walked.error()));
    return make_str(outline.out);
}

const char* const to_string_names[] = {"spacing"};
const Signature to_string_signature{"Node.__to_string()", to_string_names, 1, 0};

}  // namespace

PyObject* node_repr(PyObject* self) {
    return call_boundary([&]() -> Result<PyRef> {
        auto name = resolved(as_node(self)->name);
        if (!name) return std::unexpected(std::move(name.error()));
        std::string text = "Node(";
        text += *name;
        text += ')';
        return make_str(text);
    });
}

PyObject* node_str(PyObject* self) {
    return call_boundary([&] { return render_node(as_node(self), 0); });
}

PyObject* node_to_string(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return call_with_arguments(
        to_string_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            std::uint8_t spacing = 0;
            if (!absent(slots[0])) {
                auto converted = count8(slots[0]);
                if (!converted)
                    return std::unexpected(
                        while_processing(std::move(converted.error()), "spacing"));
                spacing = *converted;
            }
            return render_node(as_node(self), spacing);
        });
}

}  // namespace quorvane
