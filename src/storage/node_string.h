// One stored UTF-8 string: an owned heap block, or a span of a SourceBuffer
// holding one counted reference to it. The form is invisible from outside.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/native_failure.h"
#include "src/storage/source_buffer.h"

namespace quorvane::storage {

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

// Two words. The first says which form the second belongs to:
//   odd          inline: its low byte is (length << 1) | 1, and the bytes
//                are the object's own, from its second byte on;
//   ends in 010  heap: the block's address | 2; the second word is the length;
//   ends in 000  span: the SourceBuffer's address; the second word holds
//                `start` in its low half and `end` in its high half;
//   ends in 100  wide span: the address | 4 of a heap record holding the
//                SourceBuffer and both offsets whole, for a span of a
//                document of 4 GiB or more that 32 bits cannot place.
class NodeString {
public:
    // Owned strings up to this length live inside the object itself, so a
    // node's short name or value costs no heap block and no extra cache miss.
    static constexpr std::size_t kInlineCapacity = 15;

    NodeString() = default;  // an empty owned string

    static NodeString owned(std::string_view text) {
        NodeString s;
        if (text.size() <= kInlineCapacity) {
            std::uint64_t words[2] = {};
            std::copy(text.begin(), text.end(), reinterpret_cast<char*>(words) + 1);
            s.tag_ = words[0] | (text.size() << 1) | kInlineFlag;
            s.payload_ = words[1];
        } else {
            s.tag_ = reinterpret_cast<std::uintptr_t>(resize_text_block(nullptr, text.size())) |
                     kHeapFlag;
            s.payload_ = text.size();
            std::memcpy(s.heap_data(), text.data(), text.size());
        }
        return s;
    }
    // Takes over a block of `len` bytes from resize_text_block.
    static NodeString adopt(char* data, std::uint64_t len) {
        NodeString s;
        s.tag_ = reinterpret_cast<std::uintptr_t>(data) | kHeapFlag;
        s.payload_ = len;
        return s;
    }
    // Takes one new reference to `buffer`.
    static NodeString span(SourceBuffer* buffer, std::uint64_t start, std::uint64_t end) {
        buffer->acquire();
        return adopt_span(buffer, start, end);
    }
    // Takes over one reference to `buffer` that the caller already holds.
    // Throws std::bad_alloc when a wide span finds no room for its record.
    static NodeString adopt_span(SourceBuffer* buffer, std::uint64_t start, std::uint64_t end) {
        NodeString s;
        if ((start | end) > kMaxOffset) [[unlikely]] {
            auto* wide = static_cast<WideSpan*>(std::malloc(sizeof(WideSpan)));
            if (!wide) {
                buffer->release();
                throw std::bad_alloc();
            }
            *wide = WideSpan{buffer, start, end};
            s.tag_ = reinterpret_cast<std::uintptr_t>(wide) | kWideFlag;
            return s;
        }
        s.tag_ = reinterpret_cast<std::uintptr_t>(buffer);
        s.payload_ = start | (end << 32);
        return s;
    }

    NodeString(NodeString&& other) noexcept
        : tag_(std::exchange(other.tag_, kInlineFlag)),
          payload_(std::exchange(other.payload_, 0)) {}
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
            if (is_wide()) std::free(wide());
        } else if (is_heap()) {
            std::free(heap_data());
        }
    }

    // Empties the string; a span's reference goes to `releases`.
    void release_into(SpanReleases& releases) noexcept {
        if (is_span()) {
            releases.add(buffer());
            if (is_wide()) std::free(wide());
        } else if (is_heap()) {
            std::free(heap_data());
        }
        tag_ = kInlineFlag;
        payload_ = 0;
    }

    // Either span form.
    bool is_span() const { return (tag_ & kFormBits) == 0; }
    // Whether this is a span of `source` whose offsets 32 bits place, the
    // most common form by far; never for a null `source`.
    bool is_narrow_span_of(const SourceBuffer* source) const {
        return tag_ == reinterpret_cast<std::uintptr_t>(source);
    }
    // checked_view() of such a span, given its buffer's text.
    bool checked_narrow_view(std::string_view source_text, std::string_view& view) const {
        return checked_span(source_text, payload_ & kMaxOffset, payload_ >> 32, view);
    }
    // The buffer a span reads from; null for the other forms.
    SourceBuffer* span_source() const { return is_span() ? buffer() : nullptr; }

    // The length in bytes, without touching the text; a span that fails its
    // check still fails in resolve().
    std::uint64_t size() const {
        if (tag_ & kInlineFlag) return inline_size();
        if (is_heap()) return payload_;
        return span_end() - span_start();
    }

    // The text, after checking that a span lies inside its buffer on
    // character boundaries. An inline text is a view into this object.
    std::expected<std::string_view, NativeFailure> resolve() const {
        std::string_view view;
        if (!checked_view(view)) [[unlikely]]
            return std::unexpected(
                NativeFailure::internal("invariant: a string span lies outside its source"));
        return view;
    }

    // The same check and text with no failure object to build, for loops
    // that want the view in registers: false for a span that fails.
    bool checked_view(std::string_view& view) const {
        // Most strings of a read tree are spans that 32 bits place: tested first.
        if ((tag_ & (kFormBits | kWideFlag)) == 0) [[likely]] {
            return checked_span(reinterpret_cast<SourceBuffer*>(tag_)->text(),
                                payload_ & kMaxOffset, payload_ >> 32, view);
        }
        if (tag_ & kInlineFlag) {
            view = std::string_view(reinterpret_cast<const char*>(this) + 1, inline_size());
            return true;
        }
        if (is_heap()) {
            view = std::string_view(heap_data(), payload_);
            return true;
        }
        return checked_span(wide()->buffer->text(), wide()->start, wide()->end, view);
    }

    void swap(NodeString& other) noexcept {
        std::swap(tag_, other.tag_);
        std::swap(payload_, other.payload_);
    }

private:
    friend class TextMatcher;
    friend class OptionalString;
    static constexpr std::uintptr_t kInlineFlag = 1;
    static constexpr std::uintptr_t kHeapFlag = 2;
    static constexpr std::uintptr_t kWideFlag = 4;
    static constexpr std::uintptr_t kFormBits = kInlineFlag | kHeapFlag;

    struct WideSpan {
        SourceBuffer* buffer;
        std::uint64_t start;
        std::uint64_t end;
    };
    // Source buffers and wide records are at least 8-byte aligned, so the
    // third bit is free to tell them apart.
    static_assert(alignof(SourceBuffer) >= 8 && alignof(std::max_align_t) >= 8);
    static constexpr std::uint64_t kMaxOffset = 0xFFFF'FFFFu;
    // A tag no string has: odd like an inline one, but longer than fits.
    static constexpr std::uintptr_t kAbsentTag = ((kInlineCapacity + 1) << 1) | kInlineFlag;

    static bool checked_span(std::string_view text, std::uint64_t start, std::uint64_t end,
                             std::string_view& view) {
        const std::uint64_t n = text.size();
        if (end < start || end > n) [[unlikely]]
            return false;
        // The bytes at both ends, or a byte that is no continuation where an
        // end is the buffer's end: two loads and no further branch.
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        const unsigned char first = start < n ? bytes[start] : 0;
        const unsigned char after = end < n ? bytes[end] : 0;
        if (((first & 0xC0) == 0x80) | ((after & 0xC0) == 0x80)) [[unlikely]]
            return false;
        view = std::string_view(text.data() + start, end - start);
        return true;
    }

    bool is_heap() const { return (tag_ & kFormBits) == kHeapFlag; }
    std::uint64_t inline_size() const { return (tag_ & 0xFF) >> 1; }
    char* heap_data() const { return reinterpret_cast<char*>(tag_ & ~kHeapFlag); }
    bool is_wide() const { return (tag_ & kWideFlag) != 0; }
    WideSpan* wide() const { return reinterpret_cast<WideSpan*>(tag_ & ~kWideFlag); }
    SourceBuffer* buffer() const {
        return is_wide() ? wide()->buffer : reinterpret_cast<SourceBuffer*>(tag_);
    }
    std::uint64_t span_start() const { return is_wide() ? wide()->start : payload_ & kMaxOffset; }
    std::uint64_t span_end() const { return is_wide() ? wide()->end : payload_ >> 32; }

    std::uintptr_t tag_ = kInlineFlag;
    // Zero past an inline text's end, so that equal inline strings are
    // equal words.
    std::uint64_t payload_ = 0;
};

static_assert(sizeof(NodeString) == 16 && std::is_standard_layout_v<NodeString>);
// An inline text starts in the first word's second byte.
static_assert(std::endian::native == std::endian::little);

// A NodeString or nothing, in the room of the string alone: absence is a
// tag no string has, so a node's optional text costs no flag word.
class OptionalString {
public:
    OptionalString() { value_.tag_ = NodeString::kAbsentTag; }
    OptionalString(std::nullopt_t) : OptionalString() {}
    OptionalString(NodeString&& value) : value_(std::move(value)) {}
    OptionalString(std::optional<NodeString>&& value) : OptionalString() {
        if (value) value_ = std::move(*value);
    }
    // Like std::optional's, a moved-from value stays present (and empty).
    OptionalString(OptionalString&& other) noexcept = default;
    OptionalString& operator=(OptionalString&& other) noexcept = default;

    bool has_value() const { return value_.tag_ != NodeString::kAbsentTag; }
    explicit operator bool() const { return has_value(); }
    NodeString& operator*() { return value_; }
    const NodeString& operator*() const { return value_; }
    NodeString* operator->() { return &value_; }
    const NodeString* operator->() const { return &value_; }

private:
    NodeString value_;
};

// Compares many stored strings with one value, as a search does. A stored
// inline string is compared as its two words, without a call or a look at
// any other memory; other forms compare their resolved bytes.
class TextMatcher {
public:
    explicit TextMatcher(std::string_view value) : value_(value) {
        if (value.size() > NodeString::kInlineCapacity) return;
        const NodeString stored = NodeString::owned(value);
        inline_words_[0] = stored.tag_;
        inline_words_[1] = stored.payload_;
    }

    std::string_view value() const { return value_; }

    std::expected<bool, NativeFailure> matches(const NodeString& stored) const {
        if (stored.tag_ & NodeString::kInlineFlag) {
            return stored.tag_ == inline_words_[0] && stored.payload_ == inline_words_[1];
        }
        // Lengths first: most names differ in length, and that needs no
        // look at their bytes.
        if (stored.size() != value_.size()) return false;
        const auto text = stored.resolve();
        if (!text) return std::unexpected(text.error());
        return *text == value_;
    }

private:
    std::string_view value_;
    // The words of the value stored inline; an even first word, which no
    // inline string has, while the value is too long to be stored so.
    std::uint64_t inline_words_[2] = {0, 0};
};

}  // namespace quorvane::storage
