// One stored UTF-8 string: an owned heap block, or a span of a SourceBuffer
// holding one counted reference to it. The form is invisible from outside.
#pragma once

#include <cstdint>
#include <cstring>
#include <expected>
#include <string_view>
#include <utility>

#include "storage/internal_failure.h"
#include "storage/source_buffer.h"

namespace quorvane {

class NodeString {
public:
    NodeString() = default;  // an empty owned string

    static NodeString owned(std::string_view text) {
        NodeString s;
        if (!text.empty()) {
            s.data_ = new char[text.size()];
            std::memcpy(s.data_, text.data(), text.size());
        }
        s.end_ = text.size();
        return s;
    }
    // Takes over a heap block of `len` bytes allocated with new[].
    static NodeString adopt(char* data, std::uint64_t len) {
        NodeString s;
        s.data_ = data;
        s.end_ = len;
        return s;
    }
    // Takes one new reference to `buffer`.
    static NodeString span(SourceBuffer* buffer, std::uint64_t start, std::uint64_t end) {
        NodeString s;
        buffer->acquire();
        s.buffer_ = buffer;
        s.start_ = start;
        s.end_ = end;
        return s;
    }

    NodeString(NodeString&& other) noexcept
        : buffer_(std::exchange(other.buffer_, nullptr)),
          start_(std::exchange(other.start_, 0)),
          end_(std::exchange(other.end_, 0)) {}
    NodeString& operator=(NodeString&& other) noexcept {
        NodeString moved(std::move(other));
        swap(moved);
        return *this;
    }
    NodeString(const NodeString&) = delete;
    NodeString& operator=(const NodeString&) = delete;
    ~NodeString() {
        if (buffer_) {
            buffer_->release();
        } else {
            delete[] data_;
        }
    }

    // A copy of the same kind: a span shares the buffer, owned bytes are copied.
    NodeString clone() const {
        if (buffer_) return span(buffer_, start_, end_);
        return owned(std::string_view(data_, end_));
    }

    bool is_span() const { return buffer_ != nullptr; }

    // The text, after checking that a span lies inside its buffer on
    // character boundaries.
    std::expected<std::string_view, InternalFailure> resolve() const {
        if (!buffer_) return std::string_view(data_, end_);
        std::string_view text = buffer_->text();
        const std::uint64_t n = text.size();
        auto continuation = [&](std::uint64_t i) {
            return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        };
        if (end_ < start_ || end_ > n || (start_ != n && start_ != 0 && continuation(start_)) ||
            (end_ != n && continuation(end_))) {
            return std::unexpected(InternalFailure{"invariant: a string span lies outside its source"});
        }
        return text.substr(start_, end_ - start_);
    }

    void swap(NodeString& other) noexcept {
        std::swap(buffer_, other.buffer_);
        std::swap(start_, other.start_);
        std::swap(end_, other.end_);
    }

private:
    SourceBuffer* buffer_ = nullptr;  // null: owned
    union {
        char* data_ = nullptr;  // owned bytes
        std::uint64_t start_;   // span start
    };
    std::uint64_t end_ = 0;  // span end, or the owned length
};

}  // namespace quorvane
