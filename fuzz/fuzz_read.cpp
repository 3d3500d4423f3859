// The whole read path below Python (index, walk, start tags, references,
// records) on arbitrary input. Built twice: as fuzz_read_text, whose input
// is made valid UTF-8 first, as read_string's always is; and as
// fuzz_read_file, whose bytes are taken as read_bytes and read_file take
// them: the encoding found from the byte-order mark and the declaration,
// then the UTF-8 check and the offset of its fault. Either the read fails with one
// of the reader's errors, its offset inside the document, or every name,
// value and text of the tree is valid UTF-8, read in place from the input or
// decoded into a copy, and the records form one tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "src/read/encoding.h"
#include "src/read/records.h"
#include "src/read/scanner.h"
#include "src/storage/source_buffer.h"
#include "structural/simd/utf8.h"

namespace {

namespace qr = quorvane::read;

void require(bool holds) {
    if (!holds) std::abort();
}

#ifndef QUORVANE_FUZZ_FILE_BYTES
// Invalid sequences become '?', so the text is what a str would hold.
std::string as_utf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t length = 1;
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead >= 0x80) length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (lead < 0x80 || (i + length <= bytes.size() &&
                            quorvane::structural::is_valid_utf8(bytes.substr(i, length)))) {
            text.append(bytes.substr(i, length));
            i += length;
        } else {
            text.push_back('?');
            ++i;
        }
    }
    return text;
}
#endif

void check_string(const quorvane::storage::NodeString& stored, std::string_view document) {
    const auto text = stored.resolve();
    require(text.has_value());
    require(quorvane::structural::is_valid_utf8(*text));
    if (stored.is_span()) {
        require(text->data() >= document.data() &&
                text->data() + text->size() <= document.data() + document.size());
    }
}

void check_read(std::string_view document, std::string_view root_tag) {
    quorvane::storage::SourceRef source = quorvane::storage::SourceRef::adopt(
        quorvane::storage::SourceBuffer::borrowing(document, nullptr, 0, nullptr));
    auto parsed = qr::parse_document(source.get(), root_tag);
    if (!parsed) {
        const quorvane::NativeFailure& error = parsed.error();
        require(error.kind != quorvane::NativeFailure::Kind::Internal);
        require(error.offset <= document.size());
        require(quorvane::structural::is_valid_utf8(qr::format_read_error(error)));
        return;
    }
    std::size_t elements = 0;
    std::size_t children = 0;
    parsed->pool.visit_backwards([&](qr::ParsedElement& element) {
        ++elements;
        children += element.child_count;
        check_string(element.name, document);
        require(!element.name.resolve()->empty());
        for (const auto& entry : element.attrs) {
            check_string(entry.key, document);
            check_string(entry.value, document);
            require(element.attrs.find(*entry.key.resolve()) == &entry.value);
        }
        if (element.text) check_string(*element.text, document);
        return true;
    });
    require(elements >= 1 && children == elements - 1);
}

// The first byte picks the root tag; the rest is the document.
std::string_view root_tag_of(std::uint8_t pick) {
    static constexpr std::string_view kRoots[] = {"r", "a", "b", "root", "x:y", "\xC3\xA9"};
    return kRoots[pick % std::size(kRoots)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
#ifdef QUORVANE_FUZZ_FILE_BYTES
    // What the first bytes say, checked for sense; bytes in another encoding
    // go to the interpreter's codecs, which are not this target's.
    const qr::SniffedEncoding sniffed = qr::sniff_encoding(bytes);
    require(sniffed.mark_bytes <= bytes.size());
    if (!qr::reads_as_utf8(sniffed)) {
        require(sniffed.layout != qr::ByteLayout::AsciiCompatible || !sniffed.declared.empty());
        return 0;
    }
    auto checked = qr::check_text(bytes, qr::TextCheck::Utf8);
    require(checked.has_value() == quorvane::structural::is_valid_utf8(bytes));
    if (!checked) {
        // The fault's offset ends the longest valid prefix.
        const std::size_t at = checked.error().offset;
        require(at < bytes.size() && quorvane::structural::is_valid_utf8(bytes.substr(0, at)));
        return 0;
    }
    check_read(bytes, root_tag_of(data[0]));
#else
    const std::string text = as_utf8(bytes);
    check_read(text, root_tag_of(data[0]));
#endif
    return 0;
}
