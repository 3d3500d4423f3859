// The 256-bit kernel: two 32-byte vectors per 64-byte block.
//
// Standard and project headers come first, outside the target region, so
// that only this file's own code is compiled for AVX2.
#include <immintrin.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "structural/markup_bytes.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"
#include "structural/simd/utf8.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "structural/simd/block_kernel.h"
#include "structural/simd/utf8_kernel.h"

namespace quorvane::structural {
namespace {

// A small set of control and space bytes in one shuffle: each 128-bit half
// of the table holds, at each low nibble, the one byte of the set with that
// nibble (0xFF where there is none); a byte with the high bit set shuffles
// to 0 and never matches.
std::uint64_t in_nibble_set(__m256i low, __m256i high, __m256i table) noexcept {
    const auto low_bits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, low), low)));
    const auto high_bits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, high), high)));
    return (std::uint64_t{high_bits} << 32) | low_bits;
}

struct Avx2Lanes {
    struct Vectors {
        __m256i low;
        __m256i high;
    };

    static Vectors load(const std::uint8_t* block) noexcept {
        const auto* p = reinterpret_cast<const __m256i*>(block);
        return {_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)};
    }

    static std::uint64_t equal(const Vectors& lanes, std::uint8_t byte) noexcept {
        const __m256i needle = _mm256_set1_epi8(static_cast<char>(byte));
        const auto low =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lanes.low, needle)));
        const auto high =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lanes.high, needle)));
        return (std::uint64_t{high} << 32) | low;
    }

    static std::uint64_t whitespace(const Vectors& lanes) noexcept {
        const __m256i table = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kMarkupSpaceByNibble.data())));
        return in_nibble_set(lanes.low, lanes.high, table);
    }

    static std::uint64_t line_breaks_and_tab(const Vectors& lanes) noexcept {
        const __m256i table = _mm256_setr_epi8(
            -1, -1, -1, -1, -1, -1, -1, -1, -1, 0x09, 0x0A, -1, -1, 0x0D, -1, -1,  //
            -1, -1, -1, -1, -1, -1, -1, -1, -1, 0x09, 0x0A, -1, -1, 0x0D, -1, -1);
        return in_nibble_set(lanes.low, lanes.high, table);
    }
};

using Avx2Blocks = KernelBlocks<Avx2Lanes>;

// Four blocks as one 256-bit vector of 64-bit masks, lane j for block j.
__m256i lanes_of(const std::uint64_t (&masks)[4]) noexcept {
    return _mm256_set_epi64x(static_cast<long long>(masks[3]), static_cast<long long>(masks[2]),
                             static_cast<long long>(masks[1]), static_cast<long long>(masks[0]));
}

}  // namespace

// Most markup has no apostrophe for hundreds of bytes. While none is seen
// (and none is open), only double quotes decide, so four blocks are resolved
// at once: the prefix-XOR runs in the four lanes together, and as bit 63 of a
// block's prefix is its parity, the carries into the blocks follow from four
// sign bits. Groups with an apostrophe take the block-by-block path.
ClassMasks classify_avx2(const std::uint8_t* input, std::size_t len) {
    ClassMasks masks = allocate_masks(len);
    std::uint64_t* lt_words = masks.lt_bits.data();
    std::uint64_t* gt_words = masks.gt_bits.data();
    QuoteCarries carries;
    const std::size_t groups = len / 256;
    const __m256i lane_bits = _mm256_set_epi64x(8, 4, 2, 1);
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint8_t* group = input + 256 * g;
        std::uint64_t lt[4];
        std::uint64_t gt[4];
        std::uint64_t doubles[4];
        __m256i apostrophes = _mm256_setzero_si256();
        for (int j = 0; j < 4; ++j) {
            const Avx2Blocks::Vectors block = Avx2Blocks::load(group + 64 * j);
            lt[j] = Avx2Blocks::equal(block, kLessThan);
            gt[j] = Avx2Blocks::equal(block, kGreaterThan);
            doubles[j] = Avx2Blocks::equal(block, kDoubleQuote);
            const __m256i single = _mm256_set1_epi8(static_cast<char>(kApostrophe));
            apostrophes |=
                _mm256_cmpeq_epi8(block.low, single) | _mm256_cmpeq_epi8(block.high, single);
        }
        std::uint64_t* lt_out = lt_words + 4 * g;
        std::uint64_t* gt_out = gt_words + 4 * g;
        if ((doubles[0] | doubles[1] | doubles[2] | doubles[3]) == 0 && !carries.in_double &&
            !carries.in_single && _mm256_testz_si256(apostrophes, apostrophes)) {
            for (int j = 0; j < 4; ++j) {
                lt_out[j] = lt[j];
                gt_out[j] = gt[j];
            }
            continue;
        }
        if (carries.in_single || !_mm256_testz_si256(apostrophes, apostrophes)) [[unlikely]] {
            for (int j = 0; j < 4; ++j) {
                const std::uint64_t singles = Avx2Blocks::equal(group + 64 * j, kApostrophe);
                classify_block({lt[j], gt[j], doubles[j], singles}, carries, lt_out[j], gt_out[j]);
            }
            continue;
        }
        __m256i prefix = lanes_of(doubles);
        prefix ^= _mm256_slli_epi64(prefix, 1);
        prefix ^= _mm256_slli_epi64(prefix, 2);
        prefix ^= _mm256_slli_epi64(prefix, 4);
        prefix ^= _mm256_slli_epi64(prefix, 8);
        prefix ^= _mm256_slli_epi64(prefix, 16);
        prefix ^= _mm256_slli_epi64(prefix, 32);
        const auto parities =
            static_cast<unsigned>(_mm256_movemask_pd(_mm256_castsi256_pd(prefix)));
        // Bit j: the parity of blocks 0..j.
        const unsigned running = parities ^ (parities << 1) ^ (parities << 2) ^ (parities << 3);
        const unsigned carry = carries.in_double ? 0xFu : 0u;
        // Bit j set: block j starts outside quotes.
        const unsigned starts_outside = ~(((running << 1) & 0xFu) ^ carry) & 0xFu;
        const __m256i flip =
            _mm256_cmpeq_epi64(_mm256_set1_epi64x(starts_outside) & lane_bits, lane_bits);
        const __m256i outside = prefix ^ flip;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lt_out), lanes_of(lt) & outside);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(gt_out), lanes_of(gt) & outside);
        carries.in_double = (((running >> 3) ^ carry) & 1u) != 0;
    }
    classify_rest<Avx2Blocks>(input, len, 4 * groups, carries, masks);
    return masks;
}

namespace {

// The vector operations UTF-8 validation asks for, on 32 bytes.
struct Avx2Utf8 {
    using Vec = __m256i;
    static constexpr std::size_t kWidth = 32;

    static Vec load(const std::uint8_t* at) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    }
    static Vec table(const std::uint8_t* entries) noexcept {
        return _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
    }
    static Vec zero() noexcept { return _mm256_setzero_si256(); }
    static Vec splat(std::uint8_t byte) noexcept {
        return _mm256_set1_epi8(static_cast<char>(byte));
    }
    static Vec bit_and(Vec a, Vec b) noexcept { return _mm256_and_si256(a, b); }
    static Vec bit_or(Vec a, Vec b) noexcept { return _mm256_or_si256(a, b); }
    static Vec bit_xor(Vec a, Vec b) noexcept { return _mm256_xor_si256(a, b); }
    static Vec saturating_sub(Vec a, Vec b) noexcept { return _mm256_subs_epu8(a, b); }
    static Vec saturating_sub(Vec a, std::uint8_t b) noexcept {
        return _mm256_subs_epu8(a, splat(b));
    }
    static Vec low_nibbles(Vec v) noexcept { return _mm256_and_si256(v, splat(0x0F)); }
    static Vec high_nibbles(Vec v) noexcept {
        return _mm256_and_si256(_mm256_srli_epi16(v, 4), splat(0x0F));
    }
    static Vec lookup(Vec table, Vec nibbles) noexcept {
        return _mm256_shuffle_epi8(table, nibbles);
    }
    // The bytes `N` places back, reaching into the previous vector.
    template <int N>
    static Vec previous(Vec input, Vec before) noexcept {
        return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(before, input, 0x21), 16 - N);
    }
    static bool is_ascii(Vec v) noexcept { return _mm256_movemask_epi8(v) == 0; }
    static bool any(Vec v) noexcept { return _mm256_testz_si256(v, v) == 0; }
};

}  // namespace

bool is_valid_utf8_avx2(const std::uint8_t* input, std::size_t len) noexcept {
    return utf8::is_valid<Avx2Utf8>(input, len);
}

}  // namespace quorvane::structural

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace quorvane::structural {

const KernelSet kAvx2Kernels{Kernel::Avx2,
                             classify_avx2,
                             Avx2Blocks::count_byte,
                             Avx2Blocks::find_unmarked,
                             Avx2Blocks::search_masks,
                             Avx2Blocks::attribute_masks,
                             is_valid_utf8_avx2};

}  // namespace quorvane::structural
