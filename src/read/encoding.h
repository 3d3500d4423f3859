// What encoding a document given as bytes is in, as its first bytes say: a
// byte-order mark, the start of its declaration in a wider encoding, then
// the declaration's encoding name. Only the interpreter's codecs know what
// most names mean; this finds the name and says whether the bytes can be
// read where they lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "platform/native_failure.h"

namespace quorvane::read {

// How the first characters are laid out in bytes.
enum class ByteLayout : std::uint8_t {
    AsciiCompatible,  // no mark: UTF-8, unless the declaration names another
    Utf8Mark,
    Utf16LittleEndian,
    Utf16BigEndian,
    Utf32LittleEndian,
    Utf32BigEndian,
};

struct SniffedEncoding {
    ByteLayout layout = ByteLayout::AsciiCompatible;
    std::size_t mark_bytes = 0;  // the byte-order mark's length, 0 without one
    std::string declared;        // the declaration's encoding name; empty when none
};

SniffedEncoding sniff_encoding(std::string_view document);

// Whether the bytes are UTF-8 and read where they lie: no name but UTF-8's
// usual spellings is declared (other names are for the codecs to judge).
bool reads_as_utf8(const SniffedEncoding& sniffed);

// The interpreter's codec that decodes `layout`, or null for the layouts
// that are ASCII-compatible.
const char* wide_codec(ByteLayout layout);

// What a document's bytes are checked for before they are parsed in place.
enum class TextCheck : std::uint8_t {
    None,      // made valid UTF-8 by a codec
    Utf8,      // a fault is a reader's, at its offset
    Utf8File,  // a file's: a fault is an input/output error, as it always was
    Ascii,     // declared ASCII: a byte past 127 is a reader's fault
};

// Checks `text` a slice at a time, so that the check of many GiB can be
// asked to stop.
std::expected<void, NativeFailure> check_text(std::string_view text, TextCheck check);

}  // namespace quorvane::read
