// Entry and text-range bookkeeping shared by both index builders: depths,
// parents and the capacity reservations.
#pragma once

#include <emmintrin.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
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

// First offset in [from, limit) whose byte has a class in `Stop`; limit if
// none. Reads 16 bytes at a time while they lie inside [0, len). Whitespace
// and the other control bytes share one unsigned compare; a control byte
// that is not whitespace (rare) is passed over after a table lookup.
template <std::uint8_t Stop>
std::size_t scan_until(const std::uint8_t* bytes, std::size_t from, std::size_t limit,
                       std::size_t len) noexcept {
    if (from >= limit) return from;
    const __m128i space = _mm_set1_epi8(0x20);
    for (; from + 16 <= len; from += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from));
        __m128i hits = _mm_cmpeq_epi8(_mm_min_epu8(v, space), v);
        if constexpr ((Stop & kSlash) != 0) hits |= _mm_cmpeq_epi8(v, _mm_set1_epi8('/'));
        if constexpr ((Stop & kGreater) != 0) hits |= _mm_cmpeq_epi8(v, _mm_set1_epi8('>'));
        if constexpr ((Stop & kQuestion) != 0) hits |= _mm_cmpeq_epi8(v, _mm_set1_epi8('?'));
        for (auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hits)); mask != 0;
             mask &= mask - 1) {
            const std::size_t at = from + std::countr_zero(mask);
            if (at >= limit) return limit;
            if ((kByteClasses[bytes[at]] & Stop) != 0) return at;
        }
        if (from + 16 >= limit) return limit;
    }
    while (from < limit && (kByteClasses[bytes[from]] & Stop) == 0) ++from;
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

// How a builder's scan ended; on failure the partial index is dropped.
struct ScanOutcome {
    enum class Kind : std::uint8_t { Done, Unclosed, PastEnd };
    Kind kind;
    std::uint64_t offset;  // the '<' of an unclosed tag

    static ScanOutcome done() noexcept { return {Kind::Done, 0}; }
    static ScanOutcome unclosed(std::uint64_t at) noexcept { return {Kind::Unclosed, at}; }
    static ScanOutcome past_end() noexcept { return {Kind::PastEnd, 0}; }
};

// Appends entries and text ranges in document order, keeping the stack of
// open start tags so each record gets its depth and parent.
//
// The arrays are std::vectors (the index hands them out), which cannot grow
// without writing every element. So they are sized a chunk at a time, the
// zeroing of a chunk warming the cache for the records written into it, and
// the records go through raw pointers with one room check per record.
class IndexWriter {
  public:
    explicit IndexWriter(std::string_view source) noexcept : len_(source.size()) {
        index_.source = source;
        if (len_ >= 128) reserve_entries(len_ / 128);
        if (len_ >= 256) index_.text_ranges.reserve(len_ / 256);
        open_.reserve(64);
    }

    // Empty ranges are never stored.
    void text(std::uint64_t start, std::uint64_t end) noexcept {
        if (start >= end) return;
        if (texts_ == text_room_) grow_texts(start);
        texts_data_[texts_++] = {start, end, parent_};
    }

    void entry(std::uint64_t start, std::uint64_t end, TagKind kind, NameSpan name) noexcept {
        if (entries_ == entry_room_) grow_entries(start);
        if (kind == TagKind::Close) {
            if (parent_ >= 0) {
                parent_ = open_.back();
                open_.pop_back();
            }
            if (depth_ != 0) --depth_;
        }
        const std::size_t i = entries_++;
        starts_[i] = start;
        ends_[i] = end;
        kinds_[i] = kind;
        names_[i] = name;
        depths_[i] = depth_;
        parents_[i] = parent_;
        if (kind == TagKind::Open) {
            open_.push_back(parent_);
            parent_ = static_cast<std::int32_t>(i);
            ++depth_;  // wraps by design past 65535 levels
        }
    }

    IndexResult finish(ScanOutcome outcome) && noexcept {
        switch (outcome.kind) {
            case ScanOutcome::Kind::Unclosed:
                return std::unexpected(IndexError{outcome.offset});
            case ScanOutcome::Kind::PastEnd:
                return std::unexpected(ScanPastEnd{});
            case ScanOutcome::Kind::Done:
                break;
        }
        resize_entries(entries_);
        index_.text_ranges.resize(texts_);
        return std::move(index_);
    }

  private:
    // Records zeroed and handed to the raw pointers per growth step.
    static constexpr std::size_t kChunk = 1024;

    // Records whose pages are faulted in ahead, in one system call per array:
    // a trap per fresh page costs more than writing the page.
    static constexpr std::size_t kFaultAhead = 32768;

    // Faults in the whole pages holding elements [from, to) of the reserved
    // storage. Only a speed-up: a kernel without the request ignores it.
    template <class T>
    static void prefault([[maybe_unused]] std::vector<T>& array, [[maybe_unused]] std::size_t from,
                         [[maybe_unused]] std::size_t to) noexcept {
#ifdef MADV_POPULATE_WRITE
        constexpr std::uintptr_t kPage = 4096;
        const auto begin = reinterpret_cast<std::uintptr_t>(array.data() + from);
        const auto end = reinterpret_cast<std::uintptr_t>(array.data() + to);
        const std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
        const std::uintptr_t last = end & ~(kPage - 1);
        if (first < last) {
            madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
        }
#endif
    }

    // At least doubles; past the reservation the density read so far predicts
    // the total better, which saves the copies of repeated doubling.
    std::size_t grown_capacity(std::size_t size, std::uint64_t progress) const noexcept {
        if (size == 0) return 16;
        std::size_t grown = 2 * size;
        if (progress > 0) {
            const double projected = static_cast<double>(size) * 1.0625 *
                                     static_cast<double>(len_) / static_cast<double>(progress);
            const double most = static_cast<double>(8 * size);
            const auto predicted = static_cast<std::size_t>(projected < most ? projected : most);
            if (predicted > grown) grown = predicted;
        }
        return grown;
    }

    void reserve_entries(std::size_t capacity) noexcept {
        index_.tag_starts.reserve(capacity);
        index_.tag_ends.reserve(capacity);
        index_.tag_kinds.reserve(capacity);
        index_.tag_names.reserve(capacity);
        index_.tag_depths.reserve(capacity);
        index_.tag_parents.reserve(capacity);
    }

    void resize_entries(std::size_t size) noexcept {
        index_.tag_starts.resize(size);
        index_.tag_ends.resize(size);
        index_.tag_kinds.resize(size);
        index_.tag_names.resize(size);
        index_.tag_depths.resize(size);
        index_.tag_parents.resize(size);
    }

    [[gnu::noinline]] void grow_entries(std::uint64_t progress) noexcept {
        const std::size_t capacity = index_.tag_starts.capacity();
        if (entries_ == capacity) {
            reserve_entries(grown_capacity(entries_, progress));
            entries_faulted_ = entries_;
        }
        const std::size_t room = std::min(index_.tag_starts.capacity(), entries_ + kChunk);
        if (room > entries_faulted_) {
            const std::size_t from = entries_faulted_;
            const std::size_t to = std::min(index_.tag_starts.capacity(), from + kFaultAhead);
            prefault(index_.tag_starts, from, to);
            prefault(index_.tag_ends, from, to);
            prefault(index_.tag_kinds, from, to);
            prefault(index_.tag_names, from, to);
            prefault(index_.tag_depths, from, to);
            prefault(index_.tag_parents, from, to);
            entries_faulted_ = to;
        }
        resize_entries(room);
        starts_ = index_.tag_starts.data();
        ends_ = index_.tag_ends.data();
        kinds_ = index_.tag_kinds.data();
        names_ = index_.tag_names.data();
        depths_ = index_.tag_depths.data();
        parents_ = index_.tag_parents.data();
        entry_room_ = room;
    }

    [[gnu::noinline]] void grow_texts(std::uint64_t progress) noexcept {
        std::vector<TextRange>& ranges = index_.text_ranges;
        if (texts_ == ranges.capacity()) {
            ranges.reserve(grown_capacity(texts_, progress));
            texts_faulted_ = texts_;
        }
        const std::size_t room = std::min(ranges.capacity(), texts_ + kChunk);
        if (room > texts_faulted_) {
            const std::size_t to = std::min(ranges.capacity(), texts_faulted_ + kFaultAhead);
            prefault(ranges, texts_faulted_, to);
            texts_faulted_ = to;
        }
        ranges.resize(room);
        texts_data_ = ranges.data();
        text_room_ = room;
    }

    StructuralIndex index_;
    std::size_t len_;
    std::size_t entries_ = 0;
    std::size_t entry_room_ = 0;
    std::size_t texts_ = 0;
    std::size_t text_room_ = 0;
    std::size_t entries_faulted_ = 0;
    std::size_t texts_faulted_ = 0;
    std::uint64_t* starts_ = nullptr;
    std::uint64_t* ends_ = nullptr;
    TagKind* kinds_ = nullptr;
    NameSpan* names_ = nullptr;
    std::uint16_t* depths_ = nullptr;
    std::int32_t* parents_ = nullptr;
    TextRange* texts_data_ = nullptr;
    // Parents of the open start tags below the innermost one.
    std::vector<std::int32_t> open_;
    std::int32_t parent_ = -1;  // the innermost open start tag, -1 if none
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
