// Unicode white space in UTF-8 text: U+0009-U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane::read {

namespace detail {

inline unsigned char byte_at(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// Whether the two or three bytes (lead b0) form a white-space character.
inline bool wide_space(unsigned char b0, unsigned char b1, unsigned char b2) {
    switch (b0) {
        case 0xE1:
            return b1 == 0x9A && b2 == 0x80;
        case 0xE2:
            // b2 is a continuation byte, so "<= 0x8A" means U+2000-U+200A.
            return (b1 == 0x80 && (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF)) ||
                   (b1 == 0x81 && b2 == 0x9F);
        case 0xE3:
            return b1 == 0x80 && b2 == 0x80;
        default:
            return false;
    }
}

}  // namespace detail

// One test for the six ASCII white-space bytes: a bit per byte below 0x21.
inline bool ascii_space(unsigned char c) {
    constexpr std::uint64_t kSpaces = (1ull << 0x09) | (1ull << 0x0A) | (1ull << 0x0B) |
                                      (1ull << 0x0C) | (1ull << 0x0D) | (1ull << 0x20);
    return c <= 0x20 && ((kSpaces >> c) & 1) != 0;
}

// Length in bytes of the white-space character starting at `i`, or 0.
inline std::size_t space_at(std::string_view text, std::size_t i) {
    using detail::byte_at;
    const unsigned char b0 = byte_at(text, i);
    if (b0 < 0x80) return ascii_space(b0) ? 1 : 0;
    if (b0 == 0xC2 && i + 1 < text.size()) {
        const unsigned char b1 = byte_at(text, i + 1);
        return b1 == 0x85 || b1 == 0xA0 ? 2 : 0;
    }
    if (i + 2 < text.size() && detail::wide_space(b0, byte_at(text, i + 1), byte_at(text, i + 2))) {
        return 3;
    }
    return 0;
}

// Length in bytes of the white-space character ending just before `end`, or 0.
inline std::size_t space_before(std::string_view text, std::size_t end) {
    using detail::byte_at;
    const unsigned char last = byte_at(text, end - 1);
    if (last < 0x80) return ascii_space(last) ? 1 : 0;
    if (end >= 2 && byte_at(text, end - 2) == 0xC2) return last == 0x85 || last == 0xA0 ? 2 : 0;
    if (end >= 3 && detail::wide_space(byte_at(text, end - 3), byte_at(text, end - 2), last)) {
        return 3;
    }
    return 0;
}

// [first, last) of `text` without leading and trailing white space.
struct Trimmed {
    std::size_t first;
    std::size_t last;
};

// Both scans take ASCII bytes in a tight loop and decode a wider character
// only where a byte of 0x80 or above stops them.
inline Trimmed trim_space(std::string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last) {
        const unsigned char c = detail::byte_at(text, first);
        if (c < 0x80) {
            if (!ascii_space(c)) break;
            ++first;
            continue;
        }
        const std::size_t len = space_at(text, first);
        if (len == 0) break;
        first += len;
    }
    while (last > first) {
        const unsigned char c = detail::byte_at(text, last - 1);
        if (c < 0x80) {
            if (!ascii_space(c)) break;
            --last;
            continue;
        }
        const std::size_t len = space_before(text, last);
        if (len == 0) break;
        last -= len;
    }
    return {first, last};
}

inline bool all_space(std::string_view text) {
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = detail::byte_at(text, i);
        if (c < 0x80) {
            if (!ascii_space(c)) return false;
            ++i;
            continue;
        }
        const std::size_t len = space_at(text, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

}  // namespace quorvane::read
