// The structural index: a flat, document-ordered list of markup entries and
// the character-data ranges between them. It borrows the input and never
// copies its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "structural/index/large_pages.h"

namespace quorvane::structural {

// Leaves the elements a container grows by uninitialised instead of zeroing
// them: the builders write every element they keep, and zeroing tens of
// megabytes first would cost about as much as writing the records. Records
// that can be copied bytewise begin to exist with their storage, so growth
// runs no constructor for them, not even a default member initialiser.
template <class T>
struct WriteOnceAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = WriteOnceAllocator<U>;
    };

    WriteOnceAllocator() noexcept = default;
    template <class U>
    WriteOnceAllocator(const WriteOnceAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n >= kLargeAllocationBytes / sizeof(T))
            return static_cast<T*>(allocate_large(n * sizeof(T)));
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* at, std::size_t n) noexcept {
        if (n >= kLargeAllocationBytes / sizeof(T)) {
            release_large(at, n * sizeof(T));
        } else {
            std::allocator<T>::deallocate(at, n);
        }
    }

    template <class U>
    void construct(U* at) noexcept {
        if constexpr (!std::is_trivially_copyable_v<U>) ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

// An index array: a vector whose growth does not zero the new elements.
template <class T>
using Column = std::vector<T, WriteOnceAllocator<T>>;

enum class TagKind : std::uint8_t {
    Open = 0,
    Close = 1,
    SelfClosing = 2,
    Comment = 3,
    CData = 4,
    ProcessingInstruction = 5,
};

// A name as a span of the source. The length is kept whole (32 bits), so a
// long name is never truncated into a different one.
struct NameSpan {
    std::uint64_t start = 0;
    std::uint32_t len = 0;
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

// A '<' with no usable '>' after it (the only kind of index error).
struct IndexError {
    std::uint64_t offset;
    std::string message() const;  // "Unclosed tag at byte N"
};

// The search builder's scan position passed the end of the input.
struct ScanPastEnd {};

using IndexFailure = std::variant<IndexError, ScanPastEnd>;
using IndexResult = std::expected<StructuralIndex, IndexFailure>;

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
