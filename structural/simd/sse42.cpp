// The 128-bit kernel: four 16-byte vectors per 64-byte block.
//
// Standard and project headers come first, outside the target region, so
// that only this file's own code is compiled for SSE4.2.
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
#pragma clang attribute push(__attribute__((target("sse4.2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.2")
#endif

#include "structural/simd/block_kernel.h"
#include "structural/simd/utf8_kernel.h"

namespace quorvane::structural {
namespace {

struct Sse42Lanes {
    struct Vectors {
        __m128i v[4];
    };

    static Vectors load(const std::uint8_t* block) noexcept {
        const auto* p = reinterpret_cast<const __m128i*>(block);
        return {{_mm_loadu_si128(p), _mm_loadu_si128(p + 1), _mm_loadu_si128(p + 2),
                 _mm_loadu_si128(p + 3)}};
    }

    static std::uint64_t equal(const Vectors& lanes, std::uint8_t byte) noexcept {
        const __m128i needle = _mm_set1_epi8(static_cast<char>(byte));
        std::uint64_t mask = 0;
        for (int i = 0; i < 4; ++i) {
            const auto bits =
                static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lanes.v[i], needle)));
            mask |= std::uint64_t{bits} << (16 * i);
        }
        return mask;
    }

    static std::uint64_t whitespace(const Vectors& lanes) noexcept {
        return in_nibble_set(
            lanes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kMarkupSpaceByNibble.data())));
    }

    static std::uint64_t line_breaks_and_tab(const Vectors& lanes) noexcept {
        return in_nibble_set(lanes, _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 0x09, 0x0A,
                                                  -1, -1, 0x0D, -1, -1));
    }

    // A small set of control and space bytes in one shuffle: the table
    // holds, at each low nibble, the one byte of the set with that nibble
    // (0xFF where there is none); a byte with the high bit set shuffles to 0
    // and never matches.
    static std::uint64_t in_nibble_set(const Vectors& lanes, __m128i table) noexcept {
        std::uint64_t mask = 0;
        for (int i = 0; i < 4; ++i) {
            const __m128i hits = _mm_cmpeq_epi8(_mm_shuffle_epi8(table, lanes.v[i]), lanes.v[i]);
            mask |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(hits))} << (16 * i);
        }
        return mask;
    }
};

using Sse42Blocks = KernelBlocks<Sse42Lanes>;

}  // namespace

ClassMasks classify_sse42(const std::uint8_t* input, std::size_t len) {
    return classify_blocks<Sse42Blocks>(input, len);
}

namespace {

// The vector operations UTF-8 validation asks for, on 16 bytes.
struct Sse42Utf8 {
    using Vec = __m128i;
    static constexpr std::size_t kWidth = 16;

    static Vec load(const std::uint8_t* at) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    }
    static Vec table(const std::uint8_t* entries) noexcept { return load(entries); }
    static Vec zero() noexcept { return _mm_setzero_si128(); }
    static Vec splat(std::uint8_t byte) noexcept { return _mm_set1_epi8(static_cast<char>(byte)); }
    static Vec bit_and(Vec a, Vec b) noexcept { return _mm_and_si128(a, b); }
    static Vec bit_or(Vec a, Vec b) noexcept { return _mm_or_si128(a, b); }
    static Vec bit_xor(Vec a, Vec b) noexcept { return _mm_xor_si128(a, b); }
    static Vec saturating_sub(Vec a, Vec b) noexcept { return _mm_subs_epu8(a, b); }
    static Vec saturating_sub(Vec a, std::uint8_t b) noexcept { return _mm_subs_epu8(a, splat(b)); }
    static Vec low_nibbles(Vec v) noexcept { return _mm_and_si128(v, splat(0x0F)); }
    static Vec high_nibbles(Vec v) noexcept {
        return _mm_and_si128(_mm_srli_epi16(v, 4), splat(0x0F));
    }
    static Vec lookup(Vec table, Vec nibbles) noexcept { return _mm_shuffle_epi8(table, nibbles); }
    // The bytes `N` places back, reaching into the previous vector.
    template <int N>
    static Vec previous(Vec input, Vec before) noexcept {
        return _mm_alignr_epi8(input, before, 16 - N);
    }
    static bool is_ascii(Vec v) noexcept { return _mm_movemask_epi8(v) == 0; }
    static bool any(Vec v) noexcept { return _mm_testz_si128(v, v) == 0; }
};

}  // namespace

bool is_valid_utf8_sse42(const std::uint8_t* input, std::size_t len) noexcept {
    return utf8::is_valid<Sse42Utf8>(input, len);
}

}  // namespace quorvane::structural

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace quorvane::structural {

const KernelSet kSse42Kernels{Kernel::Sse42,
                              classify_sse42,
                              Sse42Blocks::count_byte,
                              Sse42Blocks::find_unmarked,
                              Sse42Blocks::search_masks,
                              Sse42Blocks::attribute_masks,
                              is_valid_utf8_sse42};

}  // namespace quorvane::structural
