#include "src/storage/source_buffer.h"

namespace quorvane::storage {

SourceBuffer* SourceBuffer::borrowing(std::string_view text, void* owner, std::int64_t home,
                                      ReleaseOwner release) {
    auto* buffer = new SourceBuffer();
    buffer->text_ = text;
    buffer->owner_ = owner;
    buffer->owner_home_ = home;
    buffer->release_owner_ = release;
    return buffer;
}

SourceBuffer* SourceBuffer::owning(std::unique_ptr<char[]> bytes, std::size_t len) {
    auto* buffer = new SourceBuffer();
    buffer->text_ = std::string_view(bytes.get(), len);
    buffer->bytes_ = std::move(bytes);
    return buffer;
}

void SourceBuffer::destroy() noexcept {
    if (release_owner_) release_owner_(owner_, owner_home_);
    delete this;
}

}  // namespace quorvane::storage
