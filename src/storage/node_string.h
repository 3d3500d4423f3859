// One stored UTF-8 string: an owned heap block, or a span of a SourceBuffer
// holding one counted reference to it. The form is invisible from outside.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "storage/internal_failure.h"
#include "storage/source_buffer.h"

namespace quorvane {

// References to source buffers given up by many strings dying together,
// such as the nodes of a freed tree: one atomic subtraction for each run of
// spans of the same buffer instead of one per span.
class SpanReleases {
public:
    SpanReleases() = default;
    SpanReleases(const SpanReleases&) = delete;
    SpanReleases& operator=(const SpanReleases&) = delete;
    ~SpanReleases() { flush(); }

    void add(SourceBuffer* buffer) noexcept {
        if (buffer != buffer_) {
            flush();
            buffer_ = buffer;
        }
        ++count_;
    }
    void flush() noexcept {
        if (count_ != 0) buffer_->release(std::exchange(count_, 0));
    }

private:
    SourceBuffer* buffer_ = nullptr;
    std::size_t count_ = 0;
};

// Owned strings keep their bytes in malloc blocks rather than new[] ones, so
// a text that grew by doubling can give its unused tail back in place.
inline char* resize_text_block(char* block, std::size_t size) {
    void* resized = std::realloc(block, size == 0 ? 1 : size);
    if (!resized) throw std::bad_alloc();
    return static_cast<char*>(resized);
}

class NodeString {
public:
    // Owned strings up to this length live inside the object itself, so a
    // node's short name or value costs no heap block and no extra cache miss.
    static constexpr std::size_t inline_capacity = 16;

    NodeString() = default;  // an empty owned string

    static NodeString owned(std::string_view text) {
        NodeString s;
        if (text.size() <= inline_capacity) {
            s.tag_ = (text.size() << 1) | inline_flag;
            std::memcpy(s.payload_.bytes, text.data(), text.size());
        } else {
            s.tag_ = 0;
            s.payload_.heap.data = resize_text_block(nullptr, text.size());
            s.payload_.heap.len = text.size();
            std::memcpy(s.payload_.heap.data, text.data(), text.size());
        }
        return s;
    }
    // Takes over a block of `len` bytes from resize_text_block.
    static NodeString adopt(char* data, std::uint64_t len) {
        NodeString s;
        s.tag_ = 0;
        s.payload_.heap = {data, len};
        return s;
    }
    // Takes one new reference to `buffer`.
    static NodeString span(SourceBuffer* buffer, std::uint64_t start, std::uint64_t end) {
        buffer->acquire();
        return adopt_span(buffer, start, end);
    }
    // Takes over one reference to `buffer` that the caller already holds.
    static NodeString adopt_span(SourceBuffer* buffer, std::uint64_t start, std::uint64_t end) {
        NodeString s;
        s.tag_ = reinterpret_cast<std::uintptr_t>(buffer);
        s.payload_.span = {start, end};
        return s;
    }

    NodeString(NodeString&& other) noexcept
        : tag_(std::exchange(other.tag_, inline_flag)), payload_(other.payload_) {}
    NodeString& operator=(NodeString&& other) noexcept {
        NodeString moved(std::move(other));
        swap(moved);
        return *this;
    }
    NodeString(const NodeString&) = delete;
    NodeString& operator=(const NodeString&) = delete;
    ~NodeString() {
        if (is_span()) {
            buffer()->release();
        } else if (tag_ == 0) {
            std::free(payload_.heap.data);
        }
    }

    // Empties the string; a span's reference goes to `releases`.
    void release_into(SpanReleases& releases) noexcept {
        if (is_span()) {
            releases.add(buffer());
        } else if (tag_ == 0) {
            std::free(payload_.heap.data);
        }
        tag_ = inline_flag;
    }

    // A copy of the same kind: a span shares the buffer, owned bytes are copied.
    NodeString clone() const {
        if (is_span()) return span(buffer(), payload_.span.start, payload_.span.end);
        if (tag_ == 0) return owned(std::string_view(payload_.heap.data, payload_.heap.len));
        NodeString copy;
        copy.tag_ = tag_;
        copy.payload_ = payload_;
        return copy;
    }

    bool is_span() const { return (tag_ & inline_flag) == 0 && tag_ != 0; }

    // The length in bytes, without touching the text; a span that fails its
    // check still fails in resolve().
    std::uint64_t size() const {
        if (tag_ & inline_flag) return tag_ >> 1;
        if (tag_ == 0) return payload_.heap.len;
        return payload_.span.end - payload_.span.start;
    }

    // The text, after checking that a span lies inside its buffer on
    // character boundaries. An inline text is a view into this object.
    std::expected<std::string_view, InternalFailure> resolve() const {
        if (tag_ & inline_flag) return std::string_view(payload_.bytes, tag_ >> 1);
        if (tag_ == 0) return std::string_view(payload_.heap.data, payload_.heap.len);
        std::string_view text = buffer()->text();
        const std::uint64_t n = text.size();
        const std::uint64_t start = payload_.span.start;
        const std::uint64_t end = payload_.span.end;
        auto continuation = [&](std::uint64_t i) {
            return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        };
        if (end < start || end > n || (start != n && start != 0 && continuation(start)) ||
            (end != n && continuation(end))) {
            return std::unexpected(
                InternalFailure{"invariant: a string span lies outside its source"});
        }
        return text.substr(start, end - start);
    }

    void swap(NodeString& other) noexcept {
        std::swap(tag_, other.tag_);
        std::swap(payload_, other.payload_);
    }

private:
    friend class TextMatcher;
    friend class OptionalString;
    static constexpr std::uintptr_t inline_flag = 1;
    // A tag no string has: odd like an inline one, but longer than fits.
    static constexpr std::uintptr_t absent_tag = ((inline_capacity + 1) << 1) | inline_flag;

    SourceBuffer* buffer() const { return reinterpret_cast<SourceBuffer*>(tag_); }

    // Odd: inline, the length in the upper bits; 0: heap; otherwise the
    // span's SourceBuffer (aligned, so even).
    std::uintptr_t tag_ = inline_flag;
    union Payload {
        struct {
            std::uint64_t start, end;
        } span;
        struct {
            char* data;
            std::uint64_t len;
        } heap;
        char bytes[inline_capacity];
    } payload_{};
};

// A NodeString or nothing, in the room of the string alone: absence is a
// tag no string has, so a node's optional text costs no flag word.
class OptionalString {
public:
    OptionalString() { value_.tag_ = NodeString::absent_tag; }
    OptionalString(std::nullopt_t) : OptionalString() {}
    OptionalString(NodeString&& value) : value_(std::move(value)) {}
    OptionalString(std::optional<NodeString>&& value) : OptionalString() {
        if (value) value_ = std::move(*value);
    }
    // Like std::optional's, a moved-from value stays present (and empty).
    OptionalString(OptionalString&& other) noexcept = default;
    OptionalString& operator=(OptionalString&& other) noexcept = default;

    bool has_value() const { return value_.tag_ != NodeString::absent_tag; }
    explicit operator bool() const { return has_value(); }
    NodeString& operator*() { return value_; }
    const NodeString& operator*() const { return value_; }
    NodeString* operator->() { return &value_; }
    const NodeString* operator->() const { return &value_; }

private:
    NodeString value_;
};

// Compares many stored strings with one value, as a search does. A stored
// inline string is compared as its tag and two masked words, without a call
// or a look at any other memory; other forms compare their resolved bytes.
class TextMatcher {
public:
    explicit TextMatcher(std::string_view value) : value_(value) {
        if (value.size() > NodeString::inline_capacity) return;
        inline_tag_ = (value.size() << 1) | NodeString::inline_flag;
        char padded[NodeString::inline_capacity] = {};
        std::copy(value.begin(), value.end(), padded);
        std::memcpy(words_, padded, sizeof words_);
        unsigned char mask[NodeString::inline_capacity] = {};
        std::fill_n(mask, value.size(), 0xFF);
        std::memcpy(masks_, mask, sizeof masks_);
    }

    std::string_view value() const { return value_; }

    std::expected<bool, InternalFailure> matches(const NodeString& stored) const {
        if (stored.tag_ & NodeString::inline_flag) {
            if (stored.tag_ != inline_tag_) return false;
            std::uint64_t words[2];
            std::memcpy(words, stored.payload_.bytes, sizeof words);
            return (((words[0] ^ words_[0]) & masks_[0]) | ((words[1] ^ words_[1]) & masks_[1])) ==
                   0;
        }
        // Lengths first: most names differ in length, and that needs no
        // look at their bytes.
        if (stored.size() != value_.size()) return false;
        return stored.resolve().transform([&](std::string_view text) { return text == value_; });
    }

private:
    std::string_view value_;
    // An odd tag no stored string has while the value is too long to be
    // stored inline.
    std::uintptr_t inline_tag_ = ~std::uintptr_t{0};
    std::uint64_t words_[2] = {};
    std::uint64_t masks_[2] = {};
};

}  // namespace quorvane
