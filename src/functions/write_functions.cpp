// write_string, write_bytes and write_file: the tree is detached with the
// lock held, then written, checked and released without it; the str or
// bytes is made once the lock is back, and a file object's write() is
// called with the lock taken back for each piece.
#include "src/functions/write_functions.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/boundary/python_io.h"
#include "src/boundary/written_text.h"
#include "src/entities/detach.h"
#include "src/entities/node.h"
#include "src/storage/ascii.h"
#include "src/write/write_document.h"
#include "structural/simd/utf8.h"

namespace quorvane {

namespace {

const char* const write_string_names[] = {"node", "indent", "default_xml_def"};
const Signature write_string_signature{"write_string()", write_string_names, 3, 1};
const char* const write_bytes_names[] = {"node", "indent", "default_xml_def"};
const Signature write_bytes_signature{"write_bytes()", write_bytes_names, 3, 1};
const char* const write_file_names[] = {"node", "file_path", "indent", "default_xml_def"};
const Signature write_file_signature{"write_file()", write_file_names, 4, 2};

constexpr std::uint64_t kDefaultIndent = 4;

Failure out_of_memory() { return native_failure(NativeFailure::out_of_memory()); }

struct WriteArguments {
    const NodeObject* node;
    FileArgument file;
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
        auto file = file_argument(slots[next++], "write");
        if (!file) return std::unexpected(while_processing(std::move(file.error()), "file_path"));
        arguments.file = std::move(*file);
    }
    PyObject* const indent_slot = slots[next++];
    auto indent =
        absent(indent_slot) ? Result<std::uint64_t>(kDefaultIndent) : count64(indent_slot);
    if (!indent) return std::unexpected(while_processing(std::move(indent.error()), "indent"));
    PyObject* const declaration_slot = slots[next];
    auto declaration = absent(declaration_slot) ? Result<bool>(true) : flag(declaration_slot);
    if (!declaration)
        return std::unexpected(while_processing(std::move(declaration.error()), "default_xml_def"));
    arguments.options = {*indent, *declaration};
    return arguments;
}

// write_string and write_bytes: the text in memory, then as a str or bytes.
Result<PyRef> write_text(PyObject* const* slots, WrittenText::Form form) {
    auto arguments = write_arguments(slots, false);
    if (!arguments) return std::unexpected(std::move(arguments.error()));
    auto tree = detach_tree(arguments->node, true);
    if (!tree) return std::unexpected(std::move(tree.error()));
    const write::UnescapedSizeCount* counted = tree->size ? &*tree->size : nullptr;
    WrittenText result(form);
    if (auto prepared = result.prepare(tree->tree, arguments->options, counted); !prepared)
        return std::unexpected(std::move(prepared.error()));
    struct Written {
        write::ByteSink text;
        bool ascii;
    };
    auto written = without_interpreter_lock([&]() -> Result<Written> {
        // Released here, its last spans possibly with their source.
        const Detached detached = std::move(*tree);
        try {
            auto text = result.write(detached.tree, arguments->options, counted);
            if (!text) return std::unexpected(native_failure(std::move(text.error())));
            // Markup and indentation are ASCII, so a tree of ASCII strings
            // needs no look at the text.
            const bool ascii = detached.tree.known_ascii() || storage::is_ascii(text->text());
            // A str's decoder checks the rest; bytes are checked here.
            if (form == WrittenText::Form::Bytes && !ascii &&
                !structural::is_valid_utf8(text->text()))
                return std::unexpected(
                    internal_failure("invariant: the XML writer only emits valid UTF-8"));
            return Written{std::move(*text), ascii};
        } catch (const std::bad_alloc&) {
            return std::unexpected(out_of_memory());
        }
    });
    if (!written) return std::unexpected(std::move(written.error()));
    return result.finish(written->text, written->ascii);
}

}  // namespace

PyObject* write_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        write_string_signature, args, nargs, kwnames,
        [&](PyObject* const* slots) { return write_text(slots, WrittenText::Form::Str); });
}

PyObject* write_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        write_bytes_signature, args, nargs, kwnames,
        [&](PyObject* const* slots) { return write_text(slots, WrittenText::Form::Bytes); });
}

PyObject* write_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        write_file_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto arguments = write_arguments(slots, true);
            if (!arguments) return std::unexpected(std::move(arguments.error()));
            auto tree = detach_tree(arguments->node, false);
            if (!tree) return std::unexpected(std::move(tree.error()));
            std::optional<StreamTarget> stream;
            if (arguments->file.method) stream.emplace(arguments->file.method.get());
            auto written = without_interpreter_lock([&]() -> std::expected<void, NativeFailure> {
                const write::DetachedTree detached = std::move(tree->tree);
                try {
                    if (stream)
                        return write::write_to_target(detached, stream->target(),
                                                      arguments->options,
                                                      StreamTarget::kPieceBytes);
                    return write::write_to_file(detached, arguments->file.path, arguments->options);
                } catch (const std::bad_alloc&) {
                    return std::unexpected(NativeFailure::out_of_memory());
                }
            });
            if (!written)
                return std::unexpected(stream ? stream->failure(std::move(written.error()))
                                              : native_failure(std::move(written.error())));
            return PyRef::borrow(Py_None);
        });
}

}  // namespace quorvane
