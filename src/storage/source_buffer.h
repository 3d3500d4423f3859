// The immutable text of one input document, shared by every span made from
// it. The count is atomic because spans are made and dropped on threads that
// do not hold the interpreter.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

namespace quorvane::storage {

class SourceBuffer {
public:
    // Releases the owner of a borrowed text; supplied by the call boundary,
    // which knows whether the releasing thread may touch the owner. `home`
    // names where the owner lives (its interpreter), as the boundary gave it.
    using ReleaseOwner = void (*)(void* owner, std::int64_t home) noexcept;

    // Reads `text` in place; `owner` keeps it alive until the last reference goes.
    static SourceBuffer* borrowing(std::string_view text, void* owner, std::int64_t home,
                                   ReleaseOwner release);
    // Takes over a heap buffer of `len` bytes.
    static SourceBuffer* owning(std::unique_ptr<char[]> bytes, std::size_t len);

    std::string_view text() const { return text_; }

    // Whether the text is known to be ASCII, as the maker of the buffer
    // may know for free; false when it is not or nobody looked.
    bool known_ascii() const { return known_ascii_; }
    void set_known_ascii() { known_ascii_ = true; }

    void acquire(std::size_t count = 1) noexcept {
        count_.fetch_add(count, std::memory_order_relaxed);
    }
    void release(std::size_t count = 1) noexcept {
        if (count_.fetch_sub(count, std::memory_order_acq_rel) == count) destroy();
    }

private:
    SourceBuffer() = default;
    void destroy() noexcept;

    std::atomic<std::size_t> count_{1};
    std::string_view text_;
    std::unique_ptr<char[]> bytes_;
    void* owner_ = nullptr;
    std::int64_t owner_home_ = 0;
    ReleaseOwner release_owner_ = nullptr;
    bool known_ascii_ = false;
};

// An owning reference to a SourceBuffer.
class SourceRef {
public:
    SourceRef() = default;
    // Adopts a reference the caller already holds.
    static SourceRef adopt(SourceBuffer* buffer) { return SourceRef(buffer); }
    SourceRef(const SourceRef& other) : buffer_(other.buffer_) {
        if (buffer_) buffer_->acquire();
    }
    SourceRef(SourceRef&& other) noexcept : buffer_(std::exchange(other.buffer_, nullptr)) {}
    SourceRef& operator=(SourceRef other) noexcept {
        std::swap(buffer_, other.buffer_);
        return *this;
    }
    ~SourceRef() {
        if (buffer_) buffer_->release();
    }

    SourceBuffer* get() const { return buffer_; }
    SourceBuffer* operator->() const { return buffer_; }
    explicit operator bool() const { return buffer_ != nullptr; }

private:
    explicit SourceRef(SourceBuffer* buffer) : buffer_(buffer) {}
    SourceBuffer* buffer_ = nullptr;
};

}  // namespace quorvane::storage
