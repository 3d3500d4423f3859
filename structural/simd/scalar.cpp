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
                               attribute_masks_scalar};

}  // namespace quorvane::structural
