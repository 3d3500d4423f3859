// Start tags and empty-element tags: the element name and the attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>

#include "read/records.h"
#include "read/span_credit.h"
#include "storage/attribute_map.h"
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

// Where the attribute maps of one read come from: the hash key they share
// and the arena their tables are cut from.
struct AttributeTables {
    HashKey key;
    BlockArena arena;
};

// The name and attribute region of entry `i`; an empty name is an error.
std::expected<TagName, ReadError> element_name(const structural::StructuralIndex& index,
                                               std::size_t i);

// Fills the empty `element` with the name and attributes of entry `i`; its
// spans take their references from `spans`, whose buffer is the one the
// index was built over. The element is filled in place because it usually
// already stands where it belongs (on the open-element stack or among its
// siblings).
std::expected<void, ReadError> parse_start_tag(SpanCredit& spans,
                                               const structural::StructuralIndex& index,
                                               std::size_t i, AttributeTables& tables,
                                               ParsedElement& element);

}  // namespace quorvane::read
