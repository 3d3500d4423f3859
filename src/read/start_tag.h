// Start tags and empty-element tags: the element name and the attributes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "src/read/records.h"
#include "src/storage/attribute_map.h"
#include "src/storage/span_credit.h"
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

// Whether two names have the same bytes. Names are short, and a loop over
// them costs less than a call to compare them.
inline bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Where the attribute maps of one read come from: the hash key they share,
// the arena their tables are cut from, and the hashes of the names seen so
// far. A document repeats a handful of attribute names, and with one key
// for the whole read each of them is hashed about once.
class AttributeTables {
public:
    explicit AttributeTables(storage::HashKey key) : key_(key) {}

    storage::HashKey key() const { return key_; }
    storage::BlockArena& arena() { return arena_; }

    // attribute_hash(key(), name); `name` must stay valid for the read.
    std::uint64_t hash_of(std::string_view name) {
        Seen& seen = seen_[(name.size() * 7 + static_cast<unsigned char>(name.back()) * 3 +
                            static_cast<unsigned char>(name.front())) %
                           seen_.size()];
        if (!same_name(seen.name, name)) seen = {name, attribute_hash(key_, name)};
        return seen.hash;
    }

private:
    struct Seen {
        std::string_view name;
        std::uint64_t hash = 0;
    };

    storage::HashKey key_;
    storage::BlockArena arena_;
    std::array<Seen, 64> seen_{};
};

// The name and attribute region of entry `i`, an empty name included. A
// plain value, so that it reaches the caller in registers, with no store and
// reload through memory at every tag.
inline TagName element_tag(const structural::StructuralIndex& index, std::size_t i) {
    const structural::NameSpan name = index.tag_names[i];
    const std::uint64_t start = index.tag_starts[i];
    const std::uint64_t end = index.tag_ends[i];
    const bool empty_element = index.tag_kind(i) == structural::TagKind::SelfClosing;
    return TagName{name.start, name.len, start + 1 + name.len, empty_element ? end - 1 : end};
}

// The error for entry `i` when its name is empty.
inline NativeFailure missing_element_name(const structural::StructuralIndex& index, std::size_t i) {
    return NativeFailure::malformed("expected element name after '<'", index.tag_starts[i]);
}

// Fills the empty `element` with the name and attributes of entry `i`; its
// spans take their references from `spans`, whose buffer is the one the
// index was built over. The element is filled in place because it already
// stands where it belongs, in the pool.
std::expected<void, NativeFailure> parse_start_tag(storage::SpanCredit& spans,
                                                   const structural::StructuralIndex& index,
                                                   std::size_t i, AttributeTables& tables,
                                                   ParsedElement& element);

}  // namespace quorvane::read
