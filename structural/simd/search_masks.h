// The bytes the search builder stops at, found for 64 input bytes at once so
// that one wide load serves every search that ends inside them.
#pragma once

#include <cstdint>

namespace quorvane::structural {

// Bit j stands for byte j of the 64.
struct SearchMasks {
    std::uint64_t lt;
    std::uint64_t gt;
    std::uint64_t double_quotes;
    std::uint64_t apostrophes;
    std::uint64_t open_name_end;   // whitespace, '/', '>': ends a start tag's name
    std::uint64_t close_name_end;  // whitespace, '>': ends an end tag's name
    std::uint64_t attribute_stop;  // '"', '\'', '/', '>': the attribute walk's stops
};

// Reads exactly 64 bytes.
using SearchMasksKernel = SearchMasks (*)(const std::uint8_t* window) noexcept;

// The active kernel's, chosen once per process like classify_bytes.
SearchMasksKernel search_masks_kernel() noexcept;

}  // namespace quorvane::structural
