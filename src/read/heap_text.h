// A growable string that becomes an owned NodeString without a copy when it
// is long, and is kept inside the object when it is short, so the many short
// rewritten values and texts cost no heap block at all.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "storage/node_string.h"

namespace quorvane::read {

class HeapText {
public:
    HeapText() = default;
    explicit HeapText(std::size_t capacity) {
        if (capacity > kInline) {
            heap_.reset(new char[capacity]);
            capacity_ = capacity;
        }
    }
    HeapText(HeapText&& other) noexcept
        : heap_(std::move(other.heap_)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, kInline)) {
        if (!heap_) std::memcpy(inline_, other.inline_, size_);
    }
    HeapText& operator=(HeapText&& other) noexcept {
        heap_ = std::move(other.heap_);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, kInline);
        if (!heap_) std::memcpy(inline_, other.inline_, size_);
        return *this;
    }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;

    void append(std::string_view bytes) {
        if (bytes.size() > capacity_ - size_) grow(bytes.size());
        std::memcpy(data() + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
    }
    // Only for callers that reserved enough room (the reference decoder,
    // whose output never outgrows its input).
    void push_unchecked(char byte) { data()[size_++] = byte; }
    void append_unchecked(const char* bytes, std::size_t len) {
        std::memcpy(data() + size_, bytes, len);
        size_ += len;
    }

    std::string_view view() const { return {data(), size_}; }
    std::size_t size() const { return size_; }

    // A long text's block becomes the string's storage; a short one is
    // stored inside the string.
    NodeString into_string() && {
        const std::size_t size = std::exchange(size_, 0);
        if (size <= NodeString::inline_capacity) return NodeString::owned({data(), size});
        capacity_ = kInline;
        return NodeString::adopt(heap_.release(), size);
    }

private:
    static constexpr std::size_t kInline = NodeString::inline_capacity;

    char* data() { return heap_ ? heap_.get() : inline_; }
    const char* data() const { return heap_ ? heap_.get() : inline_; }

    void grow(std::size_t extra) {
        std::size_t capacity = capacity_;
        while (capacity - size_ < extra) capacity *= 2;
        std::unique_ptr<char[]> fresh(new char[capacity]);
        if (size_) std::memcpy(fresh.get(), data(), size_);
        heap_ = std::move(fresh);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> heap_;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInline;
    char inline_[kInline];
};

}  // namespace quorvane::read
