// A growable string that becomes an owned NodeString without a copy when it
// is long, and is kept inside the object when it is short, so the many short
// rewritten values and texts cost no heap block at all.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "src/storage/node_string.h"

namespace quorvane::read {

class HeapText {
public:
    HeapText() = default;
    explicit HeapText(std::size_t capacity) {
        if (capacity > kInline) {
            heap_ = storage::resize_text_block(nullptr, capacity);
            capacity_ = capacity;
        }
    }
    HeapText(HeapText&& other) noexcept { take(other); }
    HeapText& operator=(HeapText&& other) noexcept {
        if (this != &other) {
            std::free(heap_);
            take(other);
        }
        return *this;
    }
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;
    ~HeapText() { std::free(heap_); }

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

    // A long text's block becomes the string's storage, cut to the text's
    // length so the room left by doubling is not kept for the node's life;
    // a short one is stored inside the string.
    storage::NodeString into_string() && {
        const std::size_t size = std::exchange(size_, 0);
        if (size <= storage::NodeString::kInlineCapacity)
            return storage::NodeString::owned({data(), size});
        char* block = std::exchange(heap_, nullptr);
        if (std::exchange(capacity_, kInline) != size) block = shrink(block, size);
        return storage::NodeString::adopt(block, size);
    }

private:
    static constexpr std::size_t kInline = storage::NodeString::kInlineCapacity;

    char* data() { return heap_ ? heap_ : inline_; }
    const char* data() const { return heap_ ? heap_ : inline_; }

    void take(HeapText& other) noexcept {
        heap_ = std::exchange(other.heap_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, kInline);
        if (!heap_) std::memcpy(inline_, other.inline_, size_);
    }

    void grow(std::size_t extra) {
        std::size_t capacity = capacity_;
        while (capacity - size_ < extra) capacity *= 2;
        if (heap_) {
            heap_ = storage::resize_text_block(heap_, capacity);
        } else {
            heap_ = storage::resize_text_block(nullptr, capacity);
            std::memcpy(heap_, inline_, size_);
        }
        capacity_ = capacity;
    }

    // Cutting a block never needs more memory; should the allocator still
    // refuse, the larger block serves as well.
    static char* shrink(char* block, std::size_t size) noexcept {
        void* cut = std::realloc(block, size);
        return cut ? static_cast<char*>(cut) : block;
    }

    char* heap_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInline;
    char inline_[kInline];
};

}  // namespace quorvane::read
