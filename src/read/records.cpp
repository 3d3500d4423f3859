#include "read/records.h"

namespace quorvane::read {

void ElementPool::add_block() {
    blocks_.emplace_back(static_cast<unsigned char*>(
        ::operator new(kBlockElements * sizeof(ParsedElement), kAlignment)));
    used_ = 0;
}

void ElementPool::release() noexcept {
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        const std::size_t made = b + 1 == blocks_.size() ? used_ : kBlockElements;
        auto* elements = reinterpret_cast<ParsedElement*>(blocks_[b].get());
        for (std::size_t i = 0; i < made; ++i) elements[i].~ParsedElement();
    }
    blocks_.clear();
    used_ = 0;
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
