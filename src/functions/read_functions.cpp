// read_string, read_bytes and read_file: the reader's only contact with the
// interpreter. Arguments are converted with the lock held, the document is
// read and parsed without it, and the records become Node objects once it
// is back. Bytes are read where they lie when they are UTF-8 (or ASCII);
// in any other encoding the interpreter's codec decodes them once, into
// UTF-8 that the tree keeps.
#include "src/functions/read_functions.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/boundary/call.h"
#include "src/boundary/convert.h"
#include "src/boundary/python_io.h"
#include "src/entities/node.h"
#include "src/read/encoding.h"
#include "src/read/file_source.h"
#include "src/read/records.h"
#include "src/read/scanner.h"
#include "src/storage/source_buffer.h"

namespace quorvane {

namespace {

const char* const read_string_names[] = {"xml_string", "root_tag"};
const Signature read_string_signature{"read_string()", read_string_names, 2, 2};
const char* const read_bytes_names[] = {"xml_bytes", "root_tag"};
const Signature read_bytes_signature{"read_bytes()", read_bytes_names, 2, 2};
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

Result<PyRef> read_text(PyObject* document_str, std::string_view document,
                        const std::string& root_tag) {
    // The buffer reads the caller's str in place and keeps it alive.
    storage::SourceRef source = storage::SourceRef::adopt(borrowing_source(document, document_str));
    if (PyUnicode_IS_ASCII(document_str)) source->set_known_ascii();
    auto parsed =
        without_interpreter_lock([&] { return read::parse_document(source.get(), root_tag); });
    if (!parsed) return std::unexpected(native_failure(std::move(parsed.error()), source->text()));
    return make_node_tree(*parsed);
}

// Without the lock: the check the bytes still need, then the parse.
std::expected<read::ParsedDocument, NativeFailure> check_and_parse(storage::SourceBuffer* source,
                                                                   read::TextCheck check,
                                                                   std::string_view root_tag) {
    if (auto checked = read::check_text(source->text(), check); !checked)
        return std::unexpected(std::move(checked.error()));
    return read::parse_document(source, root_tag);
}

// Bytes as the parser takes them, and what they must still be checked for.
struct Utf8Document {
    storage::SourceRef source;
    read::TextCheck check;
};

const char* layout_name(read::ByteLayout layout) {
    switch (layout) {
        case read::ByteLayout::Utf8Mark:
            return "UTF-8 with a byte-order mark";
        case read::ByteLayout::Utf16LittleEndian:
            return "UTF-16, little-endian";
        case read::ByteLayout::Utf16BigEndian:
            return "UTF-16, big-endian";
        case read::ByteLayout::Utf32LittleEndian:
            return "UTF-32, little-endian";
        case read::ByteLayout::Utf32BigEndian:
            return "UTF-32, big-endian";
        default:
            return "ASCII-compatible";
    }
}

// The codecs' own name for a declared encoding (codecs.lookup), which
// tells spellings of one encoding apart from others.
Result<std::string> codec_name(const std::string& declared) {
    PyRef codecs = PyRef::steal(PyImport_ImportModule("codecs"));
    PyRef name = PyRef::steal(
        PyUnicode_DecodeLatin1(declared.data(), static_cast<Py_ssize_t>(declared.size()), nullptr));
    if (!codecs || !name) return std::unexpected(raised());
    PyRef info = PyRef::steal(PyObject_CallMethod(codecs.get(), "lookup", "O", name.get()));
    if (!info) {
        if (!PyErr_ExceptionMatches(PyExc_LookupError)) return std::unexpected(raised());
        PyErr_Clear();
        return std::unexpected(
            value_error("unknown encoding '" + declared + "' declared by the document"));
    }
    PyRef canonical = PyRef::steal(PyObject_GetAttrString(info.get(), "name"));
    if (!canonical) return std::unexpected(raised());
    return text(canonical.get());
}

// The interpreter's codec over the bytes after the mark, into UTF-8.
Result<Utf8Document> decode(const storage::SourceRef& raw, std::size_t mark_bytes,
                            const char* codec) {
    const std::string_view bytes = raw->text().substr(mark_bytes);
    PyRef decoded = PyRef::steal(
        PyUnicode_Decode(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), codec, "strict"));
    if (!decoded) {
        // A codec from bytes to bytes (rot13, hex) is known, but no text's.
        if (PyErr_ExceptionMatches(PyExc_LookupError)) {
            PyErr_Clear();
            return std::unexpected(value_error("the document declares the encoding '" +
                                               std::string(codec) +
                                               "', which is not an encoding of text"));
        }
        if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) return std::unexpected(raised());
        PyRef error = PyRef::steal(PyErr_GetRaisedException());
        Py_ssize_t start = 0;
        PyRef reason = PyRef::steal(PyUnicodeDecodeError_GetReason(error.get()));
        if (!reason || PyUnicodeDecodeError_GetStart(error.get(), &start) < 0)
            return std::unexpected(raised());
        auto reason_text = text(reason.get());
        if (!reason_text) return std::unexpected(std::move(reason_text.error()));
        return std::unexpected(
            value_error("the document's bytes do not fit its encoding '" + std::string(codec) +
                        "': " + *reason_text + " at byte " +
                        std::to_string(mark_bytes + static_cast<std::size_t>(start))));
    }
    PyRef utf8 = PyRef::steal(PyUnicode_AsUTF8String(decoded.get()));
    if (!utf8) return std::unexpected(raised());
    const std::string_view text_bytes(PyBytes_AS_STRING(utf8.get()),
                                      static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.get())));
    storage::SourceRef source = storage::SourceRef::adopt(borrowing_source(text_bytes, utf8.get()));
    if (PyUnicode_IS_ASCII(decoded.get())) source->set_known_ascii();
    return Utf8Document{std::move(source), read::TextCheck::None};
}

// With the lock: what the declaration names, checked against what the
// first bytes say, and the bytes in UTF-8. `utf8_check` is how bytes read
// in place are checked.
Result<Utf8Document> in_utf8(storage::SourceRef raw, const read::SniffedEncoding& sniffed,
                             read::TextCheck utf8_check) {
    if (read::reads_as_utf8(sniffed)) return Utf8Document{std::move(raw), utf8_check};
    std::string codec;
    if (!sniffed.declared.empty()) {
        auto name = codec_name(sniffed.declared);
        if (!name) return std::unexpected(std::move(name.error()));
        codec = std::move(*name);
    }
    auto contradicted = [&] {
        return std::unexpected(value_error("the document declares the encoding '" +
                                           sniffed.declared + "', but its first bytes are " +
                                           layout_name(sniffed.layout)));
    };
    const bool declares_wide = codec.starts_with("utf-16") || codec.starts_with("utf-32");
    if (const char* wide = read::wide_codec(sniffed.layout)) {
        // "utf-16" names either order; "utf-16-le" only its own.
        const std::string_view family = std::string_view(wide).substr(0, 6);
        if (!codec.empty() &&
            (!codec.starts_with(family) || (codec.size() > family.size() && codec != wide)))
            return contradicted();
        return decode(raw, sniffed.mark_bytes, wide);
    }
    if (codec == "utf-8") return Utf8Document{std::move(raw), utf8_check};
    if (sniffed.layout == read::ByteLayout::Utf8Mark || declares_wide) return contradicted();
    if (codec == "ascii") return Utf8Document{std::move(raw), read::TextCheck::Ascii};
    return decode(raw, 0, codec.c_str());
}

Result<PyRef> read_bytes_document(storage::SourceRef raw, const read::SniffedEncoding& sniffed,
                                  const std::string& root_tag, read::TextCheck utf8_check) {
    auto document = in_utf8(std::move(raw), sniffed, utf8_check);
    if (!document) return std::unexpected(std::move(document.error()));
    auto parsed = without_interpreter_lock(
        [&] { return check_and_parse(document->source.get(), document->check, root_tag); });
    if (!parsed)
        return std::unexpected(native_failure(std::move(parsed.error()), document->source->text()));
    return make_node_tree(*parsed);
}

Result<PyRef> read_bytes_document(storage::SourceRef raw, const std::string& root_tag) {
    const read::SniffedEncoding sniffed = read::sniff_encoding(raw->text());
    return read_bytes_document(std::move(raw), sniffed, root_tag, read::TextCheck::Utf8);
}

Result<std::string> root_tag_argument(PyObject* value) {
    auto root_tag = text(value);
    if (!root_tag)
        return std::unexpected(while_processing(std::move(root_tag.error()), "root_tag"));
    return root_tag;
}

// A file read to its end, then parsed in the same stretch without the lock
// when it is UTF-8; else its bytes, for the codecs.
struct FileOutcome {
    std::optional<read::ParsedDocument> parsed;
    storage::SourceRef raw;
    read::SniffedEncoding sniffed;
};

Result<PyRef> read_path(std::string path, const std::string& root_tag) {
    // Failures are formed without the lock too; none of them holds an
    // interpreter object.
    auto outcome = without_interpreter_lock([&]() -> Result<FileOutcome> {
        auto contents = read::read_whole_file(path);
        std::string().swap(path);
        if (!contents) return std::unexpected(native_failure(std::move(contents.error())));
        storage::SourceRef source = storage::SourceRef::adopt(
            storage::SourceBuffer::owning(std::move(contents->bytes), contents->length));
        read::SniffedEncoding sniffed = read::sniff_encoding(source->text());
        if (!read::reads_as_utf8(sniffed))
            return FileOutcome{std::nullopt, std::move(source), sniffed};
        auto document = check_and_parse(source.get(), read::TextCheck::Utf8File, root_tag);
        if (!document)
            return std::unexpected(native_failure(std::move(document.error()), source->text()));
        return FileOutcome{std::move(*document), {}, {}};
    });
    if (!outcome) return std::unexpected(std::move(outcome.error()));
    if (outcome->parsed) return make_node_tree(*outcome->parsed);
    return read_bytes_document(std::move(outcome->raw), outcome->sniffed, root_tag,
                               read::TextCheck::Utf8File);
}

}  // namespace

PyObject* read_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        read_string_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto document = text_view(slots[0]);
            if (!document)
                return std::unexpected(while_processing(std::move(document.error()), "xml_string"));
            auto root_tag = root_tag_argument(slots[1]);
            if (!root_tag) return std::unexpected(std::move(root_tag.error()));
            return read_text(slots[0], *document, *root_tag);
        });
}

PyObject* read_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        read_bytes_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto raw = bytes_source(slots[0]);
            if (!raw) return std::unexpected(while_processing(std::move(raw.error()), "xml_bytes"));
            auto root_tag = root_tag_argument(slots[1]);
            if (!root_tag) return std::unexpected(std::move(root_tag.error()));
            return read_bytes_document(std::move(*raw), *root_tag);
        });
}

PyObject* read_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_with_arguments(
        read_file_signature, args, nargs, kwnames, [&](PyObject* const* slots) -> Result<PyRef> {
            auto file = file_argument(slots[0], "read");
            if (!file)
                return std::unexpected(while_processing(std::move(file.error()), "file_path"));
            auto root_tag = root_tag_argument(slots[1]);
            if (!root_tag) return std::unexpected(std::move(root_tag.error()));
            if (!file->method) {
                auto tree = read_path(std::move(file->path), *root_tag);
                if (!tree) return std::unexpected(in_file(std::move(tree.error()), slots[0]));
                return tree;
            }
            auto contents = read_stream(file->method.get());
            if (!contents) return std::unexpected(std::move(contents.error()));
            if (!contents->text) return read_bytes_document(std::move(contents->bytes), *root_tag);
            auto document = text_view(contents->text.get());
            if (!document) return std::unexpected(std::move(document.error()));
            return read_text(contents->text.get(), *document, *root_tag);
        });
}

}  // namespace quorvane
