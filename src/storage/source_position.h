// Where a byte offset of a UTF-8 source stands as a line and a column, for
// the position a reader error reports. Only a failure asks, so it is
// counted from the start of the source.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace quorvane::storage {

struct SourcePosition {
    std::uint64_t offset;  // bytes before it
    std::uint64_t line;    // 1-based; lines end at '\n'
    std::uint64_t column;  // 1-based, in characters
};

inline SourcePosition locate(std::string_view source, std::uint64_t offset) {
    const std::string_view before =
        source.substr(0, std::min<std::uint64_t>(offset, source.size()));
    const std::size_t newline = before.rfind('\n');
    const std::string_view last_line =
        newline == std::string_view::npos ? before : before.substr(newline + 1);
    const auto lines = static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
    // A UTF-8 character is one byte that is not a continuation byte (10xxxxxx).
    const auto characters =
        static_cast<std::uint64_t>(std::count_if(last_line.begin(), last_line.end(), [](char byte) {
            return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
        }));
    return {offset, lines + 1, characters + 1};
}

}  // namespace quorvane::storage
