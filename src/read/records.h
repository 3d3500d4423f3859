// The records the reader shares: the element it builds without the
// interpreter, and the one error value of the read path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/attribute_map.h"
#include "storage/internal_failure.h"
#include "storage/node_string.h"
#include "structural/index/structural.h"

namespace quorvane::read {

// One element as parsed: a NodeRecord whose children are owned records.
struct ParsedElement {
    NodeString name;
    AttributeMap attrs;
    std::vector<ParsedElement> children;
    std::optional<NodeString> text;

    ParsedElement() = default;
    ParsedElement(ParsedElement&&) noexcept = default;
    ParsedElement& operator=(ParsedElement&& other) noexcept;
    ParsedElement(const ParsedElement&) = delete;
    ParsedElement& operator=(const ParsedElement&) = delete;
    ~ParsedElement() {
        if (!children.empty()) release_children();
    }

    // Children grow to capacity 2 for the first, then double from 4.
    void append_child(ParsedElement&& child) {
        make_room();
        children.push_back(std::move(child));
    }
    // A new last child, empty, for the caller to fill in place.
    ParsedElement& new_child() {
        make_room();
        return children.emplace_back();
    }

private:
    void make_room() {
        if (children.size() == children.capacity()) grow_children();
    }
    void grow_children();
    // Releases the subtree with a work list, never one native frame per level.
    void release_children() noexcept;
};

// Largest document the reader accepts: entry indices, name lengths and
// attribute counts downstream are 32-bit quantities.
inline constexpr std::uint64_t kMaxDocumentBytes = 0xFFFF'FFFFu;

struct ReadError {
    enum class Kind : std::uint8_t {
        Index,          // the structural index refused the document
        Malformed,      // `text` is the message, `offset` where it applies
        RootNotFound,   // `text` is root_tag
        NeverClosed,    // `text` is the innermost open element's name
        UnknownEntity,  // `text` is the reference name, `offset` its '&'
        TooLarge,       // `offset` is the document's length
        Internal,       // a broken invariant, raised as PanicException
    };

    Kind kind;
    std::string text;
    std::uint64_t offset = 0;

    static ReadError index(const structural::IndexError& error) {
        return {Kind::Index, error.message(), error.offset};
    }
    static ReadError malformed(std::string message, std::uint64_t offset) {
        return {Kind::Malformed, std::move(message), offset};
    }
    static ReadError root_not_found(std::string_view root_tag) {
        return {Kind::RootNotFound, std::string(root_tag), 0};
    }
    static ReadError never_closed(std::string_view name) {
        return {Kind::NeverClosed, std::string(name), 0};
    }
    static ReadError unknown_entity(std::string_view name, std::uint64_t offset) {
        return {Kind::UnknownEntity, std::string(name), offset};
    }
    static ReadError too_large(std::uint64_t length) { return {Kind::TooLarge, {}, length}; }
    static ReadError internal(InternalFailure failure) {
        return {Kind::Internal, std::move(failure.message), 0};
    }
};

// The message the ValueError carries.
std::string format_read_error(const ReadError& error);

}  // namespace quorvane::read
