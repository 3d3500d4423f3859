// read_string and read_file: the reader's only contact with the interpreter.
// Arguments are converted with the lock held, the document is read and
// parsed without it, and the records become Node objects once it is back.
#include "src/functions/read_functions.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/entities/node.h"
#include "src/read/file_source.h"
#include "src/read/records.h"
#include "src/read/scanner.h"
#include "src/storage/source_buffer.h"

namespace quorvane {

namespace {

const char* const read_string_names[] = {"xml_string", "root_tag"};
const Signature read_string_signature{"read_string()", read_string_names, 2, 2};
const char* const read_file_names[] = {"file_path", "root_tag"};
const Signature read_file_signature{"read_file()", read_file_names, 2, 2};

// A ValueError of read_file names the file, as given.
Failure in_file(Failure failure, PyObject* path) {
    if (failure.kind == Failure::Kind::Value) failure.filename = PyRef::borrow(path);
    return failure;
}

// Bottom-up in one pass over the pool, last element first, which meets
// every element after all of its descendants: the nodes of its children
// are then the last ones made and not yet taken, the first child's on top.
// They wait on one flat stack, so the depth of a document never becomes the
// depth of the native stack, and no record is read twice.
Result<PyRef> make_node_tree(read::ParsedDocument& document) {
    const NodeClass node_class = current_node_class();
    if (!node_class.type) return std::unexpected(raised());
    std::vector<PyRef> waiting;
    Result<PyRef> failure;
    const bool made_all = document.pool.visit_backwards([&](read::ParsedElement& element) {
        auto node = make_node_object(node_class, element.name, element.attrs, element.text,
                                     element.child_count, [&](PyObject** slots) {
                                         for (std::size_t i = 0; i < element.child_count; ++i) {
                                             *slots++ = waiting.back().release();
                                             waiting.pop_back();
                                         }
                                     });
        if (!node) {
            failure = std::unexpected(std::move(node.error()));
            return false;
        }
        waiting.push_back(std::move(*node));
        return true;
    });
    // On failure the nodes still waiting release those below them.
    if (!made_all) return failure;
    document.pool.mark_moved_out();
    return std::move(waiting.back());
}

}  // namespace

PyObject* read_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        read_string_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto document = text_view(slots[0]);
            if (!document)
                return std::unexpected(while_processing(std::move(document.error()), "xml_string"));
            auto root_tag = text(slots[1]);
            if (!root_tag)
                return std::unexpected(while_processing(std::move(root_tag.error()), "root_tag"));
            // The buffer reads the caller's str in place and keeps it alive.
            storage::SourceRef source =
                storage::SourceRef::adopt(borrowing_source(*document, slots[0]));
            if (PyUnicode_IS_ASCII(slots[0])) source->set_known_ascii();
            auto parsed = without_interpreter_lock(
                [&] { return read::parse_document(source.get(), *root_tag); });
            if (!parsed)
                return std::unexpected(native_failure(std::move(parsed.error()), source->text()));
            return make_node_tree(*parsed);
        });
}

PyObject* read_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        read_file_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto path = text(slots[0]);
            if (!path)
                return std::unexpected(while_processing(std::move(path.error()), "file_path"));
            auto root_tag = text(slots[1]);
            if (!root_tag)
                return std::unexpected(while_processing(std::move(root_tag.error()), "root_tag"));
            // Failures are formed without the lock too; none of them holds an
            // interpreter object.
            auto parsed = without_interpreter_lock([&]() -> Result<read::ParsedDocument> {
                auto contents = read::read_whole_file(*path);
                std::string().swap(*path);
                if (!contents) return std::unexpected(native_failure(std::move(contents.error())));
                storage::SourceRef source = storage::SourceRef::adopt(
                    storage::SourceBuffer::owning(std::move(contents->bytes), contents->length));
                auto document = read::parse_document(source.get(), *root_tag);
                if (!document)
                    return std::unexpected(
                        native_failure(std::move(document.error()), source->text()));
                return std::move(*document);
            });
            if (!parsed) return std::unexpected(in_file(std::move(parsed.error()), slots[0]));
            return make_node_tree(*parsed);
        });
}

}  // namespace quorvane
