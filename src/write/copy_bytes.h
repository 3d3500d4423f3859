// The copies behind every append of a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvane::write {

// Copies `size` bytes, at most 16, without calling memcpy: two loads and
// two stores that may overlap, and no read past either end.
inline void copy_short(char* to, const char* from, std::size_t size) {
    if (size >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + size - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + size - 8, &tail, 8);
    } else if (size >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + size - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + size - 4, &tail, 4);
    } else if (size > 0) {
        to[0] = from[0];
        to[size / 2] = from[size / 2];
        to[size - 1] = from[size - 1];
    }
}

// Copies `size` bytes, calling memcpy only past 16, the size of most names
// and values.
inline void copy_bytes(char* to, const char* from, std::size_t size) {
    if (size > 16) {
        std::memcpy(to, from, size);
    } else {
        copy_short(to, from, size);
    }
}

}  // namespace quorvane::write
