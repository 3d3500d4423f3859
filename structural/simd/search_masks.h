// The bytes the search builder and the reader's attribute walk stop at,
// found for 64 input bytes at once so that one wide load serves every search
// that ends inside them.
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

// The same for the attributes of a start tag.
struct AttributeMasks {
    std::uint64_t whitespace;  // 0x09 0x0A 0x0C 0x0D 0x20
    std::uint64_t equals;
    std::uint64_t double_quotes;
    std::uint64_t apostrophes;
    // '<', and what decoding a value rewrites: '&', tab, line feed, carriage return.
    std::uint64_t value_stop;
};

using AttributeMasksKernel = AttributeMasks (*)(const std::uint8_t* window) noexcept;

AttributeMasksKernel attribute_masks_kernel() noexcept;

}  // namespace quorvane::structural
