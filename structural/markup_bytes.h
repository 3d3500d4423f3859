// The byte classes of markup in one table, shared by the kernels, the index
// builders and the start-tag walk, so that "markup white space" and the
// bytes that end a name mean the same everywhere.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvane::structural {

enum MarkupClass : std::uint8_t {
    kMarkupSpace = 1u << 0,  // 0x09 0x0A 0x0C 0x0D 0x20
    kSlash = 1u << 1,
    kGreater = 1u << 2,
    kQuestion = 1u << 3,
};

inline constexpr std::array<std::uint8_t, 5> kMarkupSpaceBytes = {0x09, 0x0A, 0x0C, 0x0D, 0x20};

inline constexpr std::array<std::uint8_t, 256> kMarkupClasses = [] {
    std::array<std::uint8_t, 256> table{};
    for (const std::uint8_t space : kMarkupSpaceBytes) table[space] = kMarkupSpace;
    table['/'] = kSlash;
    table['>'] = kGreater;
    table['?'] = kQuestion;
    return table;
}();

inline constexpr bool is_markup_space(std::uint8_t byte) {
    return (kMarkupClasses[byte] & kMarkupSpace) != 0;
}

// The white-space bytes by their low nibble, for a vector shuffle: each
// has a nibble of its own, and 0xFF (which no shuffled byte equals) fills
// the rest.
inline constexpr std::array<std::uint8_t, 16> kMarkupSpaceByNibble = [] {
    std::array<std::uint8_t, 16> table{};
    table.fill(0xFF);
    for (const std::uint8_t space : kMarkupSpaceBytes) table[space & 0x0F] = space;
    return table;
}();

// The delimiters of the markup an element's content may hold besides tags.
inline constexpr std::string_view kEndTagOpen = "</";
inline constexpr std::string_view kCommentOpen = "<!--";
inline constexpr std::string_view kCommentClose = "-->";
inline constexpr std::string_view kCDataOpen = "<![CDATA[";
inline constexpr std::string_view kCDataClose = "]]>";
inline constexpr std::string_view kProcessingInstructionClose = "?>";

}  // namespace quorvane::structural
