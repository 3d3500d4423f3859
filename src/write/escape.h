// Escaping of element text and attribute values. Runs with nothing to
// replace are handed to the sink in one piece, replacements come from
// constant text, and no intermediate string is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane::write {

// Text mode replaces & < > " '; attribute mode also tab, carriage return
// and line feed, which a reader would otherwise normalise to spaces.
enum class EscapeMode : unsigned char { Text, Attribute };

namespace detail {

// What each byte becomes; an empty view for bytes copied as they are.
// Only ASCII bytes are replaced, so a byte-wise scan of UTF-8 is exact.
constexpr std::string_view replacement(unsigned char byte, EscapeMode mode) {
    switch (byte) {
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            return "&gt;";
        case '"':
            return "&quot;";
        case '\'':
            return "&apos;";
        case '\t':
            return mode == EscapeMode::Attribute ? "&#9;" : "";
        case '\r':
            return mode == EscapeMode::Attribute ? "&#13;" : "";
        case '\n':
            return mode == EscapeMode::Attribute ? "&#10;" : "";
        default:
            return "";
    }
}

template <EscapeMode mode>
struct ReplacementTable {
    std::string_view text[256];
    constexpr ReplacementTable() : text{} {
        for (int byte = 0; byte < 256; ++byte)
            text[byte] = replacement(static_cast<unsigned char>(byte), mode);
    }
};

template <EscapeMode mode>
inline constexpr ReplacementTable<mode> kReplacements{};

// The same replacements as eight-byte words, for one store whatever their
// length; a length of 0 means the byte is copied as it is.
struct PackedReplacement {
    std::uint64_t bytes;
    std::uint64_t size;
};

template <EscapeMode mode>
struct PackedReplacementTable {
    PackedReplacement entry[256];
    constexpr PackedReplacementTable() : entry{} {
        for (int byte = 0; byte < 256; ++byte) {
            const std::string_view text = replacement(static_cast<unsigned char>(byte), mode);
            std::uint64_t bytes = 0;
            for (std::size_t i = 0; i < text.size(); ++i)
                bytes |= std::uint64_t{static_cast<unsigned char>(text[i])} << 8 * i;
            entry[byte] = {bytes, text.size()};
        }
    }
};

template <EscapeMode mode>
inline constexpr PackedReplacementTable<mode> kPackedReplacements{};

template <EscapeMode mode>
inline char* put_replacement(char* out, char byte) {
    const PackedReplacement& replaced =
        kPackedReplacements<mode>.entry[static_cast<unsigned char>(byte)];
    std::memcpy(out, &replaced.bytes, 8);
    return out + replaced.size;
}

#if defined(__SSE2__)
// One bit per byte of `bytes` that the mode replaces. The ASCII codes pair
// up so that one OR and one comparison catch two of them: & (26) and ' (27)
// both become 27 with bit 0 set, < (3C) and > (3E) become 3E with bit 1
// set, tab (09) and carriage return (0D) become 0D with bit 2 set. A zero
// byte matches nothing.
template <EscapeMode mode>
inline unsigned replaced_bits(__m128i bytes) {
    __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x01)), _mm_set1_epi8(0x27)),
                     _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x02)), _mm_set1_epi8(0x3E)));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')));
    if constexpr (mode == EscapeMode::Attribute) {
        hits = _mm_or_si128(
            hits, _mm_cmpeq_epi8(_mm_or_si128(bytes, _mm_set1_epi8(0x04)), _mm_set1_epi8(0x0D)));
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
    }
    return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

template <EscapeMode mode>
inline unsigned replaced_bits(const char* p) {
    return replaced_bits<mode>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// The `size` bytes at `from`, fewer than 16, in the low lanes and zeros in
// the others, put together in registers: a vector load of a padded copy on
// the stack would stall until the copy's narrower stores had retired.
inline __m128i load_short(const char* from, std::size_t size) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    if (size >= 8) {
        std::memcpy(&low, from, 8);
        if (size > 8) {
            std::memcpy(&high, from + size - 8, 8);
            high >>= 8 * (16 - size);
        }
    } else if (size >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + size - 4, 4);
        low = head | std::uint64_t{tail} << 8 * (size - 4);
    } else if (size > 0) {
        const auto byte = [&](std::size_t i) {
            return std::uint64_t{static_cast<unsigned char>(from[i])} << 8 * i;
        };
        low = byte(0) | byte(size / 2) | byte(size - 1);
    }
    return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}
#endif

}  // namespace detail

// The offset of the first byte from `from` on that `mode` replaces, or
// text.size() when there is none.
template <EscapeMode mode>
inline std::size_t find_replaced(std::string_view text, std::size_t from) {
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t i = from;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        if (const unsigned bits = detail::replaced_bits<mode>(data + i))
            return i + static_cast<std::size_t>(__builtin_ctz(bits));
    }
    if (i == size) return size;
    // The last few bytes: the block that ends with the text, whose bytes
    // before `i` were looked at already, or for a short text its bytes
    // padded with zeros. Most names and values are short, and a byte at a
    // time costs several times more.
    const unsigned bits = size >= 16
                              ? detail::replaced_bits<mode>(data + size - 16) >> (i + 16 - size)
                              : detail::replaced_bits<mode>(detail::load_short(data + i, size - i));
    return bits ? i + static_cast<std::size_t>(__builtin_ctz(bits)) : size;
#else
    for (; i < size; ++i) {
        if (!detail::kReplacements<mode>.text[static_cast<unsigned char>(data[i])].empty())
            return i;
    }
    return size;
#endif
}

// Each byte may become six ("&quot;"), and the last store of escape_to may
// reach 16 bytes past the end of its text.
inline constexpr std::uint64_t kEscapeGrowth = 6;
inline constexpr std::uint64_t kEscapeOverrun = 16;

// The most bytes escape_to may touch for a text of `size` bytes.
constexpr std::uint64_t escape_room(std::uint64_t size) {
    return kEscapeGrowth * size + kEscapeOverrun;
}

// Writes the escaped text at `out`, which has escape_room(text.size())
// bytes of room, and returns its end; the bytes after the end may have been
// overwritten. Each block of 16 is loaded once and stored whole, and only
// a block holding a byte to replace is looked at further.
template <EscapeMode mode>
inline char* escape_to(char* out, std::string_view text) {
    const char* from = text.data();
    std::size_t left = text.size();
#if defined(__SSE2__)
    for (;;) {
        const bool whole = left >= 16;
        const __m128i bytes = whole ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(from))
                                    : detail::load_short(from, left);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
        const unsigned bits = detail::replaced_bits<mode>(bytes);
        if (bits == 0) {
            if (!whole) return out + left;
            out += 16;
            from += 16;
            left -= 16;
            continue;
        }
        const auto kept = static_cast<std::size_t>(__builtin_ctz(bits));
        out = detail::put_replacement<mode>(out + kept, from[kept]);
        from += kept + 1;
        left -= kept + 1;
    }
#else
    for (; left > 0; --left, ++from) {
        if (detail::kPackedReplacements<mode>.entry[static_cast<unsigned char>(*from)].size == 0) {
            *out++ = *from;
        } else {
            out = detail::put_replacement<mode>(out, *from);
        }
    }
    return out;
#endif
}

// Appends the escaped text to `sink` (whose append returns false on
// failure); stops at the sink's first failure.
template <EscapeMode mode, class Sink>
inline bool escape_into(Sink& sink, std::string_view text) {
    std::size_t run = 0;
    for (std::size_t i = find_replaced<mode>(text, 0); i < text.size();
         i = find_replaced<mode>(text, run)) {
        const std::string_view replaced =
            detail::kReplacements<mode>.text[static_cast<unsigned char>(text[i])];
        if (!sink.append(text.substr(run, i - run)) || !sink.append(replaced)) return false;
        run = i + 1;
    }
    return sink.append(text.substr(run));
}

}  // namespace quorvane::write
