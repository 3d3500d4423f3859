#include "read/records.h"

#include <algorithm>

namespace quorvane::read {

ParsedElement& ParsedElement::operator=(ParsedElement&& other) noexcept {
    // Through a temporary so the old subtree goes through the iterative release.
    ParsedElement old(std::move(*this));
    name = std::move(other.name);
    attrs = std::move(other.attrs);
    children = std::move(other.children);
    text = std::move(other.text);
    return *this;
}

void ParsedElement::release_children() noexcept {
    // Elements with children of their own are moved onto the work list; leaves
    // and moved-from shells are destroyed where they lie, so no destructor
    // below this one ever meets a non-empty child list.
    std::vector<ParsedElement> pending;
    auto take_inner = [&pending](std::vector<ParsedElement>& list) {
        for (ParsedElement& child : list) {
            if (!child.children.empty()) pending.push_back(std::move(child));
        }
        list.clear();
    };
    take_inner(children);
    while (!pending.empty()) {
        ParsedElement element = std::move(pending.back());
        pending.pop_back();
        take_inner(element.children);
    }
}

void ParsedElement::grow_children() {
    const std::size_t capacity = children.capacity();
    children.reserve(capacity <= 1 ? 2 : std::max<std::size_t>(4, 2 * capacity));
}

std::string format_read_error(const ReadError& error) {
    switch (error.kind) {
        case ReadError::Kind::Index:
            return "malformed XML: " + error.text;
        case ReadError::Kind::Malformed:
            return "malformed XML at byte " + std::to_string(error.offset) + ": " + error.text;
        case ReadError::Kind::RootNotFound:
            return "root tag <" + error.text + "> not found in document";
        case ReadError::Kind::NeverClosed:
            return "unexpected end of document: <" + error.text + "> is never closed";
        case ReadError::Kind::UnknownEntity:
            return "unknown entity reference '&" + error.text + ";' at byte " +
                   std::to_string(error.offset);
        case ReadError::Kind::TooLarge:
            return "document of " + std::to_string(error.offset) +
                   " bytes is too large to read (the limit is " +
                   std::to_string(kMaxDocumentBytes) + " bytes)";
        case ReadError::Kind::Internal:
            return error.text;
    }
    return error.text;
}

}  // namespace quorvane::read
