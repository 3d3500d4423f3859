// The structural index: a flat, document-ordered list of markup entries and
// the character-data ranges between them. It borrows the input and never
// copies its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/native_failure.h"

namespace quorvane::structural {

// Storage for index columns, from the reserve of mapped regions when large.
void* allocate_column(std::size_t bytes);
void release_column(void* at, std::size_t bytes) noexcept;

// An index array of bytewise-copyable records. Growth leaves the new
// elements uninitialised instead of zeroing them: the builders write every
// element they keep, and zeroing tens of megabytes first would cost about as
// much as writing the records.
template <class T>
class Column {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    Column() = default;
    Column(Column&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    Column& operator=(Column&& other) noexcept {
        Column moved(std::move(other));
        std::swap(data_, moved.data_);
        std::swap(size_, moved.size_);
        std::swap(capacity_, moved.capacity_);
        return *this;
    }
    Column(const Column&) = delete;
    Column& operator=(const Column&) = delete;
    ~Column() {
        if (data_) release_column(data_, capacity_ * sizeof(T));
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    const T& back() const { return data_[size_ - 1]; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

    // Room for `capacity` elements; the first size() move along.
    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        if (capacity > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        T* grown = static_cast<T*>(allocate_column(capacity * sizeof(T)));
        if (size_ != 0) std::memcpy(grown, data_, size_ * sizeof(T));
        if (data_) release_column(data_, capacity_ * sizeof(T));
        data_ = grown;
        capacity_ = capacity;
    }
    // Elements past the old size are left as the storage holds them.
    void resize(std::size_t size) {
        reserve(size);
        size_ = size;
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

enum class TagKind : std::uint8_t {
    Open = 0,
    Close = 1,
    SelfClosing = 2,
    Comment = 3,
    CData = 4,
    ProcessingInstruction = 5,
};

// A name as a span of the source, its length kept whole, so a long name is
// never truncated into a different one.
struct NameSpan {
    std::uint64_t start = 0;
    std::uint64_t len = 0;
};

struct TextRange {
    std::uint64_t start;  // inclusive
    std::uint64_t end;    // exclusive: the '<' that follows
    std::int32_t parent;  // entry index of the enclosing start tag, -1 if none
};

struct StructuralIndex {
    Column<std::uint64_t> tag_starts;  // offset of the entry's '<'
    Column<std::uint64_t> tag_ends;    // offset of its final '>' (or the fallback end)
    Column<TagKind> tag_kinds;
    Column<NameSpan> tag_names;
    Column<std::uint16_t> tag_depths;  // wraps past 65535 levels
    Column<std::int32_t> tag_parents;
    Column<TextRange> text_ranges;
    std::string_view source;  // borrowed: must outlive the index

    std::size_t entry_count() const { return tag_starts.size(); }
    TagKind tag_kind(std::size_t i) const { return tag_kinds[i]; }
    std::string_view tag_name(std::size_t i) const {
        return source.substr(tag_names[i].start, tag_names[i].len);
    }
    std::string_view text_of(const TextRange& range) const {
        return source.substr(range.start, range.end - range.start);
    }
};

// A build fails with a '<' that has no usable '>' after it (an unclosed
// tag), with a document that ended early when the search builder's scan
// passed the end of the input, or stopped when asked to (see
// platform/interrupt.h).
using IndexResult = std::expected<StructuralIndex, NativeFailure>;

// Picks a builder from the quote density of the first 4096 bytes and
// checks that the mask builder's view of the markup can be trusted.
IndexResult build_index(std::string_view source);
IndexResult build_index_by_search(std::string_view source);
IndexResult build_index_by_masks(std::string_view source);

// Which builder build_index would pick by sampling alone.
bool prefers_mask_builder(std::string_view source) noexcept;

// Which builder produced build_index's outcome.
enum class IndexBuilder : std::uint8_t {
    Search,            // the sample chose the search builder
    Masks,             // the sample chose the mask builder and its index was kept
    SearchAfterMasks,  // the mask builder failed or hid a '<'; searched again
};

struct ChosenIndex {
    IndexResult result;
    IndexBuilder builder;
};

// build_index, also telling which builder it used (for tests and benchmarks).
ChosenIndex build_index_with_choice(std::string_view source);

}  // namespace quorvane::structural
