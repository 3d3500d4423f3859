#include "src/read/records.h"

namespace quorvane::read {

void ElementPool::add_block() {
    // Room to record the block first, so a block once made is never lost.
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 1);
    if (blocks_.empty()) {
        void* first = ::operator new(kFirstBlockElements * sizeof(ParsedElement), kAlignment);
        blocks_.push_back({static_cast<ParsedElement*>(first), kFirstBlockElements});
    } else {
        void* mapped = platform::allocate_large(kMappedBlockBytes);
        blocks_.push_back({static_cast<ParsedElement*>(mapped), kMappedBlockElements});
    }
    used_ = 0;
}

void ElementPool::release() noexcept {
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        if (!moved_out_) {
            const std::size_t made = b + 1 == blocks_.size() ? used_ : blocks_[b].capacity;
            for (std::size_t i = 0; i < made; ++i) blocks_[b].elements[i].~ParsedElement();
        }
        if (b == 0) {
            ::operator delete(blocks_[b].elements, kAlignment);
        } else {
            platform::release_large(blocks_[b].elements, kMappedBlockBytes);
        }
    }
    blocks_.clear();
    used_ = 0;
    moved_out_ = false;
}

std::string format_read_error(const NativeFailure& error) {
    switch (error.kind) {
        case NativeFailure::Kind::UnclosedTag:
            return "malformed XML: Unclosed tag at byte " + std::to_string(error.offset);
        case NativeFailure::Kind::Malformed:
            return "malformed XML at byte " + std::to_string(error.offset) + ": " + error.text;
        case NativeFailure::Kind::RootNotFound:
            return "root tag <" + error.text + "> not found in document";
        case NativeFailure::Kind::NeverClosed:
            return "unexpected end of document: <" + error.text + "> is never closed";
        case NativeFailure::Kind::UnknownEntity:
            return "unknown entity reference '&" + error.text + ";' at byte " +
                   std::to_string(error.offset);
        case NativeFailure::Kind::TooLarge:
            return "document of " + std::to_string(error.offset) +
                   " bytes is too large to read (the limit is " +
                   std::to_string(kMaxDocumentBytes) + " bytes)";
        default:
            return error.text;
    }
}

}  // namespace quorvane::read
