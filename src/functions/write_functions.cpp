// The tree is detached with the lock held, then written, checked and
// released without it; the str is made once the lock is back, and a large
// ASCII text copied into it without the lock again. A very large text is
// written into a str made just after the copy instead.
#include "src/functions/write_functions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/memory.h"
#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/entities/node.h"
#include "src/entities/node_walk.h"
#include "src/write/ascii.h"
#include "src/write/detached_tree.h"
#include "src/write/serializer.h"
#include "src/write/write_document.h"

namespace quorvane {

namespace {

const char* const write_string_names[] = {"node", "indent", "default_xml_def"};
const Signature write_string_signature{"write_string()", write_string_names, 3, 1};
const char* const write_file_names[] = {"node", "file_path", "indent", "default_xml_def"};
const Signature write_file_signature{"write_file()", write_file_names, 4, 2};

// An ASCII text at least this long is copied into its str with the lock
// released: the str is made first, then filled, so two threads writing
// large texts share less of their time under the lock.
constexpr std::size_t kCopyOutsideLockBytes = std::size_t{256} << 10;

// A text that may take at least this many bytes is written straight into
// its str, faulted in by huge pages. A str this large is fresh memory from
// the system on each call (the C library maps every block past 32 MiB on
// its own), which the writer may as well fill instead of copying into it.
// A smaller str often reuses memory a freed one left warm, and one made
// larger than its text, then cut, would stop that reuse.
constexpr std::uint64_t kDirectStrBytes = std::uint64_t{32} << 20;

Failure out_of_memory() { return native_failure(NativeFailure::out_of_memory()); }

// Spaces per level: an int or any object with __index__, in 0..2**64-1.
Result<std::uint64_t> indent_argument(PyObject* value) {
    if (absent(value)) return 4;
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) return std::unexpected(raised());
    const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
    if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred())
        return std::unexpected(raised());
    return static_cast<std::uint64_t>(converted);
}

// numpy's booleans are no bool subclass; they are taken through their own
// truth value.
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

Result<bool> flag_argument(PyObject* value) {
    if (absent(value)) return true;
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

struct WriteArguments {
    const NodeObject* node;
    std::string file_path;
    write::WriteOptions options;
};

// Converts the arguments in parameter order; file_path, when `with_path`,
// comes second.
Result<WriteArguments> write_arguments(PyObject* const* slots, bool with_path) {
    WriteArguments arguments{};
    auto node = node_argument(slots[0]);
    if (!node) return std::unexpected(while_processing(std::move(node.error()), "node"));
    arguments.node = *node;
    int next = 1;
    if (with_path) {
        auto path = text(slots[next++]);
        if (!path) return std::unexpected(while_processing(std::move(path.error()), "file_path"));
        arguments.file_path = std::move(*path);
    }
    auto indent = indent_argument(slots[next++]);
    if (!indent) return std::unexpected(while_processing(std::move(indent.error()), "indent"));
    auto declaration = flag_argument(slots[next]);
    if (!declaration)
        return std::unexpected(while_processing(std::move(declaration.error()), "default_xml_def"));
    arguments.options = {*indent, *declaration};
    return arguments;
}

struct Detached {
    write::DetachedTree tree;
    // Absent once a node stands in several places, whose length would
    // depend on the depth of each.
    std::optional<write::UnescapedSizeCount> size;
};

// Copies the tree under `root` into a tree that refers to no interpreter
// object. The walk copies each node before its children, into the slot its
// parent keeps for it. A node standing in several places is copied the
// first time and named by address after that; only a node with more than
// one reference can, so only those are looked up. A name the writer cannot
// write ends the walk, before anything is written.
class Detacher : public NodeWalk {
public:
    struct State {
        write::DetachedNode* copy = nullptr;
        std::size_t next_slot = 0;
    };

    explicit Detacher(Detached& detached) : detached_(detached) {}

    bool enter(PyObject* object, std::span<PyObject* const>, WalkStack<PyObject*, State>& stack) {
        const NodeObject* node = as_node(object);
        write::DetachedTree& tree = detached_.tree;
        write::DetachedNode* copy = tree.add_node(node->name, node->attrs, node->text,
                                                  static_cast<std::size_t>(Py_SIZE(node)));
        if (detached_.size) detached_.size->add(*copy, stack.depth());
        if (Py_REFCNT(node) > 1) seen.add(node, copy);
        if (State* parent = stack.parent()) {
            parent->copy->child_slots()[parent->next_slot++] = copy;
        } else {
            tree.set_root(copy);
        }
        if (tree.refused()) [[unlikely]]
            return false;
        if (copy->child_count != 0) stack.descend(node->children(), {copy, 0});
        return true;
    }
    bool leave(State&, State*) { return true; }
    static bool may_share(PyObject* node) { return Py_REFCNT(node) > 1; }
    bool again(write::DetachedNode* copy, State& parent) {
        copy->shared = true;
        detached_.size.reset();
        parent.copy->child_slots()[parent.next_slot++] = copy;
        return true;
    }

    SeenNodes<write::DetachedNode*> seen;

private:
    Detached& detached_;
};

// A copy `for_str` also learns whether its strings are ASCII.
Result<Detached> detach_tree(const NodeObject* root, bool for_str) {
    Detached detached{write::DetachedTree(for_str), write::UnescapedSizeCount{}};
    Detacher detacher(detached);
    try {
        // A refusal ends the walk without a failure of its own.
        if (!walk(detacher, NodeWalk::object(root)) && detacher.failure)
            return std::unexpected(std::move(*detacher.failure));
    } catch (const std::bad_alloc&) {
        return std::unexpected(out_of_memory());
    }
    if (detached.tree.broken()) return std::unexpected(internal_failure(*detached.tree.broken()));
    if (detached.tree.refused()) return std::unexpected(value_error(*detached.tree.refused()));
    return detached;
}

}  // namespace

PyObject* write_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        write_string_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto arguments = write_arguments(slots, false);
            if (!arguments) return std::unexpected(std::move(arguments.error()));
            auto tree = detach_tree(arguments->node, true);
            if (!tree) return std::unexpected(std::move(tree.error()));
            // A very large text is written straight into its str, made now
            // at the length the text may take and cut to its length once the
            // lock is back. A text that is not ASCII, or outgrows the str,
            // is made from the writer's own block like a shorter one.
            const write::UnescapedSizeCount* counted = tree->size ? &*tree->size : nullptr;
            PyRef direct;
            char* direct_data = nullptr;
            std::uint64_t direct_capacity = 0;
            if (counted) {
                const auto capacity =
                    write::memory_capacity(tree->tree, arguments->options, counted);
                if (capacity && *capacity >= kDirectStrBytes) {
                    direct = PyRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(*capacity), 127));
                    if (!direct) return std::unexpected(raised());
                    direct_capacity = *capacity;
                    // No other thread can see the new str until it is returned.
                    direct_data = static_cast<char*>(PyUnicode_DATA(direct.get()));
                    platform::advise_huge_pages(direct_data, direct_data + direct_capacity);
                }
            }
            struct Written {
                write::ByteSink text;
                bool ascii;
            };
            auto written = without_interpreter_lock([&]() -> Result<Written> {
                // Released here, its last spans possibly with their source.
                const Detached detached = std::move(*tree);
                try {
                    auto text =
                        direct_data
                            ? write::write_to_memory_at(detached.tree, arguments->options,
                                                        direct_data, direct_capacity)
                            : write::write_to_memory(detached.tree, arguments->options, counted);
                    if (!text) return std::unexpected(native_failure(std::move(text.error())));
                    // Markup and indentation are ASCII, so a tree of ASCII
                    // strings needs no look at the text.
                    const bool ascii = detached.tree.known_ascii() || write::is_ascii(text->text());
                    return Written{std::move(*text), ascii};
                } catch (const std::bad_alloc&) {
                    return std::unexpected(out_of_memory());
                }
            });
            if (!written) return std::unexpected(std::move(written.error()));
            if (written->text.borrowed() && written->ascii) {
                PyObject* resized = direct.release();
                const int failed = PyUnicode_Resize(
                    &resized, static_cast<Py_ssize_t>(written->text.text().size()));
                direct = PyRef::steal(resized);
                if (failed) return std::unexpected(raised());
                return direct;
            }
            // An outgrown str is dropped before the text's own is made.
            if (!written->text.borrowed()) direct = PyRef();
            const std::string_view text = written->text.text();
            const auto length = static_cast<Py_ssize_t>(text.size());
            if (!written->ascii) {
                // The decoder checks that the text is valid UTF-8 as it
                // converts it, so the text is read once rather than twice.
                PyRef result = PyRef::steal(PyUnicode_DecodeUTF8(text.data(), length, nullptr));
                if (result) return result;
                if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError))
                    return std::unexpected(raised());
                PyErr_Clear();
                return std::unexpected(
                    internal_failure("invariant: the XML writer only emits valid UTF-8"));
            }
            // A str too large for the memory left is a MemoryError like any other.
            PyRef result = PyRef::steal(PyUnicode_New(length, 127));
            if (!result) return std::unexpected(raised());
            // No other thread can see the new str until it is returned.
            char* data = static_cast<char*>(PyUnicode_DATA(result.get()));
            auto copy = [&] { std::memcpy(data, text.data(), text.size()); };
            if (text.size() >= kCopyOutsideLockBytes) {
                without_interpreter_lock(copy);
            } else {
                copy();
            }
            return result;
        });
}

PyObject* write_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        write_file_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto arguments = write_arguments(slots, true);
            if (!arguments) return std::unexpected(std::move(arguments.error()));
            auto tree = detach_tree(arguments->node, false);
            if (!tree) return std::unexpected(std::move(tree.error()));
            auto written = without_interpreter_lock([&]() -> Result<void> {
                const write::DetachedTree detached = std::move(tree->tree);
                try {
                    auto outcome =
                        write::write_to_file(detached, arguments->file_path, arguments->options);
                    if (!outcome)
                        return std::unexpected(native_failure(std::move(outcome.error())));
                    return {};
                } catch (const std::bad_alloc&) {
                    return std::unexpected(out_of_memory());
                }
            });
            if (!written) return std::unexpected(std::move(written.error()));
            return PyRef::borrow(Py_None);
        });
}

}  // namespace quorvane
