// The copy behind every append of a sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvane::write {

// Copies `size` bytes without calling memcpy when there are at most 16,
// the size of most names and values: two loads and two stores that may
// overlap, and no read past either end.
inline void copy_bytes(char* to, const char* from, std::size_t size) {
    if (size >= 8) {
        if (size > 16) {
            std::memcpy(to, from, size);
            return;
        }
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

}  // namespace quorvane::write
