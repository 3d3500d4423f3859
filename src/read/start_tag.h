// Start tags and empty-element tags: the element name and the attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>

#include "read/records.h"
#include "storage/attribute_map.h"
#include "storage/source_buffer.h"
#include "structural/index/structural.h"

namespace quorvane::read {

struct TagName {
    std::uint64_t start;  // the name, as the index delimits it
    std::uint64_t length;
    // The attribute region: from just after the name up to the '>', or up to
    // the '/' of "/>".
    std::uint64_t region_start;
    std::uint64_t region_end;
};

// The name and attribute region of entry `i`; an empty name is an error.
std::expected<TagName, ReadError> element_name(const structural::StructuralIndex& index,
                                               std::size_t i);

// A new element for entry `i` with its attributes; `source` is the buffer the
// index was built over and the one its spans refer to.
std::expected<ParsedElement, ReadError> parse_start_tag(SourceBuffer* source,
                                                        const structural::StructuralIndex& index,
                                                        std::size_t i, HashKey key);

}  // namespace quorvane::read
