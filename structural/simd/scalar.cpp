// The portable kernel: the quote rule one byte at a time.
#include <cstddef>
#include <cstdint>
#include <span>

#include "structural/markup_bytes.h"
#include "structural/simd/block_kernel.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"

namespace quorvane::structural {
namespace {

struct PortableBlocks {
    static std::uint64_t equal(const std::uint8_t* block, std::uint8_t byte) noexcept {
        std::uint64_t mask = 0;
        for (unsigned j = 0; j < 64; ++j) mask |= std::uint64_t{block[j] == byte} << j;
        return mask;
    }
};

std::size_t count_byte_scalar(const std::uint8_t* input, std::size_t len,
                              std::uint8_t byte) noexcept {
    return count_byte_blocks<PortableBlocks>(input, len, byte);
}

std::size_t find_unmarked_scalar(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                                 std::span<const std::uint64_t> marked, std::size_t from) noexcept {
    return find_unmarked_blocks<PortableBlocks>(input, len, byte, marked, from);
}

SearchMasks search_masks_scalar(const std::uint8_t* window) noexcept {
    std::uint64_t whitespace = 0;
    for (unsigned j = 0; j < 64; ++j) whitespace |= std::uint64_t{is_markup_space(window[j])} << j;
    return search_masks_of(
        PortableBlocks::equal(window, kLessThan), PortableBlocks::equal(window, kGreaterThan),
        PortableBlocks::equal(window, kDoubleQuote), PortableBlocks::equal(window, kApostrophe),
        whitespace, PortableBlocks::equal(window, '/'));
}

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

ClassMasks classify_scalar(const std::uint8_t* input, std::size_t len) {
    ClassMasks masks = allocate_masks(len);
    QuoteCarries carries;
    classify_bytewise(input, 0, len, carries, masks.lt_bits.data(), masks.gt_bits.data());
    return masks;
}

const KernelSet kScalarKernels{Kernel::Scalar,       classify_scalar,     count_byte_scalar,
                               find_unmarked_scalar, search_masks_scalar, attribute_masks_scalar};

}  // namespace quorvane::structural
