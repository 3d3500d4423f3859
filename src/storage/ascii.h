// Whether bytes are all ASCII: what decides how a written text becomes a
// str, and whether a document declared ASCII is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quorvane::storage {

// Long texts are checked 64 bytes at a time, stopping at the first block
// that is not ASCII; short ones, such as most names and values, in words,
// the last of which may overlap the one before.
inline bool is_ascii(std::string_view text) {
    constexpr std::uint64_t kHighBits = 0x8080'8080'8080'8080ull;
    const char* bytes = text.data();
    const std::size_t size = text.size();
    auto word_at = [bytes](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        return word;
    };
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        std::uint64_t block = 0;
        for (std::size_t k = 0; k < 64; k += 8) block |= word_at(i + k);
        if (block & kHighBits) return false;
    }
    std::uint64_t rest = 0;
    for (; i + 8 <= size; i += 8) rest |= word_at(i);
    if (i < size) {
        if (size >= 8) {
            rest |= word_at(size - 8);
        } else {
            for (; i < size; ++i) rest |= static_cast<unsigned char>(bytes[i]);
        }
    }
    return (rest & kHighBits) == 0;
}

}  // namespace quorvane::storage
