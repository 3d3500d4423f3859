// The byte searches both index builders make inside markup: the end of a
// name, the next occurrence of a byte, a delimiter at an offset, the end of
// a processing instruction.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "structural/markup_bytes.h"

namespace quorvane::structural::detail {

// First offset in [from, limit) whose byte has a class in `Stop`; limit if
// none. With SSE2 (every x86-64) it reads 16 bytes at a time while they lie
// inside [0, len): whitespace and the other control bytes share one
// unsigned compare; a control byte that is not whitespace (rare) is passed
// over after a table lookup. Elsewhere a byte at a time.
template <std::uint8_t Stop>
std::size_t scan_until(const std::uint8_t* bytes, std::size_t from, std::size_t limit,
                       [[maybe_unused]] std::size_t len) noexcept {
    if (from >= limit) return from;
#if defined(__SSE2__)
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
            if ((kMarkupClasses[bytes[at]] & Stop) != 0) return at;
        }
        if (from + 16 >= limit) return limit;
    }
#endif
    while (from < limit && (kMarkupClasses[bytes[from]] & Stop) == 0) ++from;
    return from;
}

// Markup is dense, so most searches end within a few vectors: with SSE2,
// look at up to 64 bytes inline before paying for a memchr call. Returns
// `len` when the byte does not occur.
inline std::size_t find_byte(const std::uint8_t* bytes, std::size_t from, std::size_t len,
                             std::uint8_t byte) noexcept {
#if defined(__SSE2__)
    const std::size_t inline_end = from + 64 < len ? from + 64 : len;
    for (; from + 16 <= inline_end; from += 16) {
        const __m128i hits =
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from)),
                           _mm_set1_epi8(static_cast<char>(byte)));
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hits));
        if (mask != 0) return from + std::countr_zero(mask);
    }
#endif
    if (from >= len) return len;
    const void* hit = std::memchr(bytes + from, byte, len - from);
    return hit == nullptr ? len : static_cast<const std::uint8_t*>(hit) - bytes;
}

inline bool has_bytes_at(const std::uint8_t* bytes, std::size_t len, std::size_t at,
                         std::string_view expected) noexcept {
    return at <= len && len - at >= expected.size() &&
           std::memcmp(bytes + at, expected.data(), expected.size()) == 0;
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

}  // namespace quorvane::structural::detail
