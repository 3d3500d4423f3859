// A growable heap string that becomes an owned NodeString without a copy.
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
    explicit HeapText(std::size_t capacity)
        : data_(capacity ? new char[capacity] : nullptr), capacity_(capacity) {}

    void append(std::string_view bytes) {
        if (bytes.size() > capacity_ - size_) grow(bytes.size());
        std::memcpy(data_.get() + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
    }
    // Only for callers that reserved enough room (the reference decoder,
    // whose output never outgrows its input).
    void push_unchecked(char byte) { data_[size_++] = byte; }
    void append_unchecked(const char* bytes, std::size_t len) {
        std::memcpy(data_.get() + size_, bytes, len);
        size_ += len;
    }

    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t size() const { return size_; }

    // The block itself becomes the string's storage.
    NodeString into_string() && {
        const std::size_t size = std::exchange(size_, 0);
        capacity_ = 0;
        return NodeString::adopt(data_.release(), size);
    }

private:
    void grow(std::size_t extra) {
        std::size_t capacity = capacity_ < 8 ? 8 : capacity_;
        while (capacity - size_ < extra) capacity *= 2;
        std::unique_ptr<char[]> fresh(new char[capacity]);
        if (size_) std::memcpy(fresh.get(), data_.get(), size_);
        data_ = std::move(fresh);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quorvane::read
