// Entity and character references, and the white-space normalisation of
// attribute values.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "src/read/heap_text.h"
#include "src/read/records.h"

namespace quorvane::read {

struct DecodedText {
    // Absent when the piece needed no rewriting: the caller keeps a span of it.
    std::optional<HeapText> rewritten;
};

// Decodes one piece of document text whose first byte lies at `offset` (used
// only for error offsets). `normalise` turns literal tab, line feed and
// carriage return (a CR LF pair counting once) into spaces, as attribute
// values need.
std::expected<DecodedText, NativeFailure> decode_text(std::string_view bytes, std::uint64_t offset,
                                                      bool normalise);

}  // namespace quorvane::read
