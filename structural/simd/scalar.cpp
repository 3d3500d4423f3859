// The portable kernel: the quote rule one byte at a time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "structural/markup_bytes.h"
#include "structural/simd/block_kernel.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"
#include "structural/simd/utf8.h"

namespace quorvane::structural {
namespace {

struct PortableLanes {
    using Vectors = const std::uint8_t*;

    static Vectors load(const std::uint8_t* block) noexcept { return block; }

    static std::uint64_t equal(Vectors block, std::uint8_t byte) noexcept {
        std::uint64_t mask = 0;
        for (unsigned j = 0; j < 64; ++j) mask |= std::uint64_t{block[j] == byte} << j;
        return mask;
    }

    static std::uint64_t whitespace(Vectors block) noexcept {
        std::uint64_t mask = 0;
        for (unsigned j = 0; j < 64; ++j) mask |= std::uint64_t{is_markup_space(block[j])} << j;
        return mask;
    }
};

using PortableBlocks = KernelBlocks<PortableLanes>;

// One pass over the window for all five masks.
AttributeMasks attribute_masks_scalar(const std::uint8_t* window) noexcept {
    AttributeMasks masks{};
    for (unsigned j = 0; j < 64; ++j) {
        const std::uint8_t byte = window[j];
        const std::uint64_t bit = std::uint64_t{1} << j;
        masks.whitespace |= is_markup_space(byte) ? bit : 0;
        masks.equals |= byte == '=' ? bit : 0;
        masks.double_quotes |= byte == kDoubleQuote ? bit : 0;
        masks.apostrophes |= byte == kApostrophe ? bit : 0;
        const bool stop =
            byte == kLessThan || byte == '&' || byte == 0x09 || byte == 0x0A || byte == 0x0D;
        masks.value_stop |= stop ? bit : 0;
    }
    return masks;
}

}  // namespace

namespace {

// Length of the valid sequence led by s[i] (a non-ASCII byte), or 0.
std::size_t sequence_length(const std::uint8_t* s, std::size_t i, std::size_t n) noexcept {
    const std::uint8_t b0 = s[i];
    auto continuation = [&](std::size_t k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) return continuation(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        const std::uint8_t b1 = s[i + 1];
        if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
        if (b0 == 0xED && b1 > 0x9F) return 0;  // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        const std::uint8_t b1 = s[i + 1];
        if (b0 == 0xF0 && b1 < 0x90) return 0;  // overlong
        if (b0 == 0xF4 && b1 > 0x8F) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

std::size_t utf8_valid_prefix(const std::uint8_t* input, std::size_t len) noexcept {
    std::size_t i = 0;
    while (i < len) {
        // Markup is mostly ASCII: skip it eight bytes at a time.
        if (i + 8 <= len) {
            std::uint64_t word;
            std::memcpy(&word, input + i, 8);
            if ((word & 0x8080'8080'8080'8080ull) == 0) {
                i += 8;
                continue;
            }
        }
        if (input[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t sequence = sequence_length(input, i, len);
        if (sequence == 0) return i;
        i += sequence;
    }
    return len;
}

bool is_valid_utf8_scalar(const std::uint8_t* input, std::size_t len) noexcept {
    return utf8_valid_prefix(input, len) == len;
}

ClassMasks classify_scalar(const std::uint8_t* input, std::size_t len) {
    ClassMasks masks = allocate_masks(len);
    QuoteCarries carries;
    classify_bytewise(input, 0, len, carries, masks.lt_bits.data(), masks.gt_bits.data());
    return masks;
}

const KernelSet kScalarKernels{Kernel::Scalar,
                               classify_scalar,
                               PortableBlocks::count_byte,
                               PortableBlocks::find_unmarked,
                               PortableBlocks::search_masks,
                               attribute_masks_scalar,
                               is_valid_utf8_scalar};

}  // namespace quorvane::structural
