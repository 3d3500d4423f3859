// Quote resolution and block driving shared by every classification kernel.
//
// Each kernel translation unit opens its own instruction-set target region,
// then includes this header, so the code here is compiled once per
// instruction set. Everything lives in an anonymous namespace: with external
// linkage the linker could merge the AVX2 copy of a helper into the portable
// kernel and run AVX2 code on a processor without it.
//
// The including file must include this header's standard headers before it
// opens the target region, so that no library code is compiled for it.
//
// A kernel supplies a type `Isa` with two static members:
//   BlockClasses Isa::classes(const std::uint8_t* block)  // 64 readable bytes
//   std::uint64_t Isa::equal(const std::uint8_t* block, std::uint8_t byte)
// which KernelBlocks derives from the kernel's view of a block.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "structural/simd/classify.h"
#include "structural/simd/search_masks.h"

namespace quorvane::structural {
namespace {

inline constexpr std::uint8_t kLessThan = '<';
inline constexpr std::uint8_t kGreaterThan = '>';
inline constexpr std::uint8_t kDoubleQuote = '"';
inline constexpr std::uint8_t kApostrophe = '\'';

// The search builder's masks from the six byte classes they combine.
inline SearchMasks search_masks_of(std::uint64_t lt, std::uint64_t gt, std::uint64_t double_quotes,
                                   std::uint64_t apostrophes, std::uint64_t whitespace,
                                   std::uint64_t slashes) noexcept {
    return {lt,
            gt,
            double_quotes,
            apostrophes,
            whitespace | slashes | gt,
            whitespace | gt,
            double_quotes | apostrophes | slashes | gt};
}

// One 64-byte block as four equality masks; bit j stands for byte j.
struct BlockClasses {
    std::uint64_t lt;
    std::uint64_t gt;
    std::uint64_t double_quotes;
    std::uint64_t apostrophes;
};

// Whether the next byte starts inside a quoted region; at most one is set.
struct QuoteCarries {
    bool in_double = false;
    bool in_single = false;
};

// Bit j = XOR of bits 0..j: 1 from an opening quote up to (not including)
// its closing quote.
constexpr std::uint64_t prefix_xor(std::uint64_t mask) noexcept {
    mask ^= mask << 1;
    mask ^= mask << 2;
    mask ^= mask << 4;
    mask ^= mask << 8;
    mask ^= mask << 16;
    mask ^= mask << 32;
    return mask;
}

// 0x6996 holds the parity of each nibble value, so no popcount is needed.
constexpr bool parity(std::uint64_t mask) noexcept {
    std::uint32_t folded =
        static_cast<std::uint32_t>(mask) ^ static_cast<std::uint32_t>(mask >> 32);
    folded ^= folded >> 16;
    folded ^= folded >> 8;
    folded ^= folded >> 4;
    return (0x6996u >> (folded & 0xF)) & 1u;
}

// Bits 0..lowest set bit of `bit` (a single-bit mask); all bits for bit 63.
constexpr std::uint64_t up_to_and_including(std::uint64_t bit) noexcept { return (bit << 1) - 1; }

// Both kinds interact: walk the quotes in position order, each opening a
// region closed by the next quote of its own kind.
inline std::uint64_t outside_mixed(std::uint64_t doubles, std::uint64_t singles,
                                   QuoteCarries& carries) noexcept {
    std::uint64_t inside = 0;
    std::uint64_t pending = doubles | singles;
    if (carries.in_double || carries.in_single) {
        const std::uint64_t same = carries.in_double ? doubles : singles;
        if (same == 0) return 0;
        const std::uint64_t closed = up_to_and_including(same & -same);
        inside = closed;
        pending &= ~closed;
        carries = {};
    }
    while (pending != 0) {
        const std::uint64_t open = pending & -pending;
        const bool is_double = (doubles & open) != 0;
        const std::uint64_t later_same =
            (is_double ? doubles : singles) & ~up_to_and_including(open);
        if (later_same == 0) {
            inside |= ~(open - 1);
            (is_double ? carries.in_double : carries.in_single) = true;
            break;
        }
        const std::uint64_t closed = up_to_and_including(later_same & -later_same);
        inside |= closed & ~(open - 1);
        pending &= ~closed;
    }
    return ~inside;
}

// Mask of the block's bytes that lie outside quotes; updates the carries.
//
// Case c (both kinds interact) walks the quotes. In cases a and b a single
// kind decides, and one branch-free computation covers every sub-case, so
// the blocks of ordinary markup cost no mispredicted branches:
//   a, double-quote carry set:  the (empty) double-quote mask with carry 1
//                               gives prefix 0, outside 0, carry kept;
//   a, apostrophes or carry:    the apostrophe mask and its carry;
//   b:                          the double-quote mask and its carry.
// At most one carry is set, and outside case c it belongs to the deciding
// kind, so the deciding carry is simply either carry.
inline std::uint64_t outside_quotes(const BlockClasses& block, QuoteCarries& carries) noexcept {
    if (block.double_quotes != 0 && (block.apostrophes != 0 || carries.in_single)) [[unlikely]] {
        return outside_mixed(block.double_quotes, block.apostrophes, carries);
    }
    const bool doubles_decide = block.double_quotes != 0 || carries.in_double;
    const std::uint64_t quotes = doubles_decide ? block.double_quotes : block.apostrophes;
    const bool carry = carries.in_double || carries.in_single;
    // Bit j of the prefix is 1 from an opening quote up to its closing one.
    const std::uint64_t outside = prefix_xor(quotes) ^ (carry ? 0 : ~0ull);
    const bool carry_out = carry ^ parity(quotes);
    carries.in_double = carry_out && doubles_decide;
    carries.in_single = carry_out && !doubles_decide;
    return outside;
}

// The quote rule one byte at a time over [begin, end), OR-ing into the
// words; the portable kernel and the vector kernels' tails.
inline void classify_bytewise(const std::uint8_t* input, std::size_t begin, std::size_t end,
                              QuoteCarries& carries, std::uint64_t* lt_words,
                              std::uint64_t* gt_words) noexcept {
    while (begin < end) {
        const std::size_t next_word = (begin / 64 + 1) * 64;
        const std::size_t word_end = end < next_word ? end : next_word;
        std::uint64_t lt = 0;
        std::uint64_t gt = 0;
        for (std::size_t i = begin; i < word_end; ++i) {
            const std::uint8_t byte = input[i];
            if (carries.in_double) {
                carries.in_double = byte != kDoubleQuote;
            } else if (carries.in_single) {
                carries.in_single = byte != kApostrophe;
            } else {
                const std::uint64_t bit = std::uint64_t{1} << (i % 64);
                lt |= byte == kLessThan ? bit : 0;
                gt |= byte == kGreaterThan ? bit : 0;
                carries.in_double = byte == kDoubleQuote;
                carries.in_single = byte == kApostrophe;
            }
        }
        lt_words[begin / 64] |= lt;
        gt_words[begin / 64] |= gt;
        begin = word_end;
    }
}

inline ClassMasks allocate_masks(std::size_t len) {
    ClassMasks masks;
    masks.len = len;
    const std::size_t words = (len + 63) / 64;
    masks.lt_bits.resize(words);
    masks.gt_bits.resize(words);
    return masks;
}

// One block's output words; updates the carries.
inline void classify_block(const BlockClasses& block, QuoteCarries& carries, std::uint64_t& lt_word,
                           std::uint64_t& gt_word) noexcept {
    // Case a without quotes or carries: nothing to mask.
    if ((block.double_quotes | block.apostrophes) == 0 && !carries.in_double &&
        !carries.in_single) {
        lt_word = block.lt;
        gt_word = block.gt;
        return;
    }
    const std::uint64_t outside = outside_quotes(block, carries);
    lt_word = block.lt & outside;
    gt_word = block.gt & outside;
}

// Blocks [first, len / 64) one at a time, then the tail byte by byte.
template <class Isa>
void classify_rest(const std::uint8_t* input, std::size_t len, std::size_t first,
                   QuoteCarries& carries, ClassMasks& masks) noexcept {
    std::uint64_t* lt_words = masks.lt_bits.data();
    std::uint64_t* gt_words = masks.gt_bits.data();
    const std::size_t whole_blocks = len / 64;
    for (std::size_t k = first; k < whole_blocks; ++k) {
        classify_block(Isa::classes(input + 64 * k), carries, lt_words[k], gt_words[k]);
    }
    classify_bytewise(input, whole_blocks * 64, len, carries, lt_words, gt_words);
}

template <class Isa>
ClassMasks classify_blocks(const std::uint8_t* input, std::size_t len) {
    ClassMasks masks = allocate_masks(len);
    QuoteCarries carries;
    classify_rest<Isa>(input, len, 0, carries, masks);
    return masks;
}

template <class Isa>
std::size_t count_byte_blocks(const std::uint8_t* input, std::size_t len,
                              std::uint8_t byte) noexcept {
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 64 <= len; i += 64) count += std::popcount(Isa::equal(input + i, byte));
    for (; i < len; ++i) count += input[i] == byte;
    return count;
}

template <class Isa>
std::size_t find_unmarked_blocks(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                                 std::span<const std::uint64_t> marked, std::size_t from) noexcept {
    if (from >= len) return len;
    std::size_t word = from / 64;
    std::uint64_t keep = ~0ull << (from % 64);
    for (; word * 64 + 64 <= len; ++word, keep = ~0ull) {
        const std::uint64_t unmarked = Isa::equal(input + word * 64, byte) & ~marked[word] & keep;
        if (unmarked != 0) return word * 64 + std::countr_zero(unmarked);
    }
    for (std::size_t i = from > word * 64 ? from : word * 64; i < len; ++i) {
        if (input[i] == byte && ((marked[i / 64] >> (i % 64)) & 1u) == 0) return i;
    }
    return len;
}

// The block operations of a kernel, from its view of a block (vector
// registers, or the bytes themselves). `Lanes` supplies:
//   Vectors load(const std::uint8_t* block)         // 64 readable bytes
//   std::uint64_t equal(const Vectors&, std::uint8_t byte)
//   std::uint64_t whitespace(const Vectors&)        // markup spaces
//   std::uint64_t line_breaks_and_tab(const Vectors&)
template <class Lanes>
struct KernelBlocks : Lanes {
    using Lanes::equal;

    static std::uint64_t equal(const std::uint8_t* block, std::uint8_t byte) noexcept {
        return Lanes::equal(Lanes::load(block), byte);
    }

    static BlockClasses classes(const std::uint8_t* block) noexcept {
        const auto lanes = Lanes::load(block);
        return {equal(lanes, kLessThan), equal(lanes, kGreaterThan), equal(lanes, kDoubleQuote),
                equal(lanes, kApostrophe)};
    }

    static std::size_t count_byte(const std::uint8_t* input, std::size_t len,
                                  std::uint8_t byte) noexcept {
        return count_byte_blocks<KernelBlocks>(input, len, byte);
    }

    static std::size_t find_unmarked(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                                     std::span<const std::uint64_t> marked,
                                     std::size_t from) noexcept {
        return find_unmarked_blocks<KernelBlocks>(input, len, byte, marked, from);
    }

    static SearchMasks search_masks(const std::uint8_t* window) noexcept {
        const auto lanes = Lanes::load(window);
        return search_masks_of(equal(lanes, kLessThan), equal(lanes, kGreaterThan),
                               equal(lanes, kDoubleQuote), equal(lanes, kApostrophe),
                               Lanes::whitespace(lanes), equal(lanes, '/'));
    }

    static AttributeMasks attribute_masks(const std::uint8_t* window) noexcept {
        const auto lanes = Lanes::load(window);
        return {Lanes::whitespace(lanes), equal(lanes, '='), equal(lanes, kDoubleQuote),
                equal(lanes, kApostrophe),
                equal(lanes, kLessThan) | equal(lanes, '&') | Lanes::line_breaks_and_tab(lanes)};
    }
};

}  // namespace
}  // namespace quorvane::structural
