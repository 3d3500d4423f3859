// Entry and text-range bookkeeping shared by both index builders: depths,
// parents and the capacity reservations.
#pragma once

#include <emmintrin.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "structural/index/structural.h"

namespace quorvane::structural::detail {

enum ByteClass : std::uint8_t {
    kWhitespace = 1u << 0,  // 0x09 0x0A 0x0C 0x0D 0x20
    kSlash = 1u << 1,
    kGreater = 1u << 2,
    kQuestion = 1u << 3,
};

// One table answers "does this byte end the name" for every kind of entry
// without a chain of comparisons.
inline constexpr std::array<std::uint8_t, 256> kByteClasses = [] {
    std::array<std::uint8_t, 256> table{};
    for (const unsigned char space : {0x09, 0x0A, 0x0C, 0x0D, 0x20}) table[space] = kWhitespace;
    table['/'] = kSlash;
    table['>'] = kGreater;
    table['?'] = kQuestion;
    return table;
}();

// First offset in [from, end) whose byte has a class in `stop`; end if none.
inline std::size_t scan_until(const std::uint8_t* bytes, std::size_t from, std::size_t end,
                              std::uint8_t stop) noexcept {
    while (from < end && (kByteClasses[bytes[from]] & stop) == 0) ++from;
    return from;
}

// Bit j set iff byte j of the 16 at `at` is one of the needles (SSE2, which
// every x86-64 processor has).
template <std::uint8_t... Needles>
std::uint32_t match16(const std::uint8_t* at) noexcept {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i hits = (_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(Needles))) | ...);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
}

// Markup is dense, so most searches end within a few vectors: look at up to
// 64 bytes inline before paying for a memchr call. Returns `len` when the
// byte does not occur.
inline std::size_t find_byte(const std::uint8_t* bytes, std::size_t from, std::size_t len,
                             std::uint8_t byte) noexcept {
    const std::size_t inline_end = from + 64 < len ? from + 64 : len;
    for (; from + 16 <= inline_end; from += 16) {
        const __m128i hits =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from)),
                           _mm_set1_epi8(static_cast<char>(byte)));
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
        if (mask != 0) return from + std::countr_zero(mask);
    }
    if (from >= len) return len;
    const void* hit = std::memchr(bytes + from, byte, len - from);
    return hit == nullptr ? len : static_cast<const std::uint8_t*>(hit) - bytes;
}

// First offset >= from holding one of the needles, 16 bytes at a time; the
// last partial vector byte by byte. Returns `len` when there is none.
template <std::uint8_t... Needles>
std::size_t find_any(const std::uint8_t* bytes, std::size_t from, std::size_t len) noexcept {
    for (; from + 16 <= len; from += 16) {
        const std::uint32_t mask = match16<Needles...>(bytes + from);
        if (mask != 0) return from + std::countr_zero(mask);
    }
    while (from < len && ((bytes[from] != Needles) && ...)) ++from;
    return from;
}

inline bool has_bytes_at(const std::uint8_t* bytes, std::size_t len, std::size_t at,
                         std::string_view expected) noexcept {
    return at <= len && len - at >= expected.size() &&
           std::memcmp(bytes + at, expected.data(), expected.size()) == 0;
}

// Appends entries and text ranges in document order, keeping the stack of
// open start tags so each record gets its depth and parent.
class IndexWriter {
  public:
    explicit IndexWriter(std::string_view source) noexcept {
        index_.source = source;
        const std::size_t n = source.size();
        if (n >= 128) {
            const std::size_t entries = n / 128;
            index_.tag_starts.reserve(entries);
            index_.tag_ends.reserve(entries);
            index_.tag_kinds.reserve(entries);
            index_.tag_names.reserve(entries);
            index_.tag_depths.reserve(entries);
            index_.tag_parents.reserve(entries);
        }
        if (n >= 256) index_.text_ranges.reserve(n / 256);
    }

    // Empty ranges are never stored.
    void text(std::uint64_t start, std::uint64_t end) noexcept {
        if (start < end) index_.text_ranges.push_back({start, end, parent()});
    }

    void entry(std::uint64_t start, std::uint64_t end, TagKind kind, NameSpan name) noexcept {
        if (kind == TagKind::Close) {
            if (!open_.empty()) open_.pop_back();
            if (depth_ != 0) --depth_;
        }
        const auto entry_index = static_cast<std::int32_t>(index_.tag_starts.size());
        index_.tag_starts.push_back(start);
        index_.tag_ends.push_back(end);
        index_.tag_kinds.push_back(kind);
        index_.tag_names.push_back(name);
        index_.tag_depths.push_back(depth_);
        index_.tag_parents.push_back(parent());
        if (kind == TagKind::Open) {
            open_.push_back(entry_index);
            ++depth_;  // wraps by design past 65535 levels
        }
    }

    StructuralIndex finish() && noexcept { return std::move(index_); }

  private:
    std::int32_t parent() const noexcept { return open_.empty() ? -1 : open_.back(); }

    StructuralIndex index_;
    std::vector<std::int32_t> open_;
    std::uint16_t depth_ = 0;
};

// A name span from `start` to `end`: 32 bits hold the whole length of any
// name in an input under 4 GiB, so no name is cut into a different one.
inline NameSpan name_span(std::size_t start, std::size_t end) noexcept {
    return {start, static_cast<std::uint32_t>(end - start)};
}

// End of a processing instruction whose target ends at j, shared by both
// builders: the '>' of the first "?>" at or after j, else the last byte.
inline std::size_t processing_instruction_end(const std::uint8_t* bytes, std::size_t len,
                                              std::size_t j) noexcept {
    if (j + 1 >= len) return j;
    for (std::size_t from = j;;) {
        const std::size_t k = find_byte(bytes, from, len, '?');
        if (k + 1 >= len) return len - 1;
        if (bytes[k + 1] == '>') return k + 1;
        from = k + 1;
    }
}

// Offsets of "<" followed by these open a comment / a CDATA section.
inline constexpr std::string_view kCommentOpen = "<!--";
inline constexpr std::string_view kCDataOpen = "<![CDATA[";

}  // namespace quorvane::structural::detail
