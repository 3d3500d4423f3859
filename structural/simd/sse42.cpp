// The 128-bit kernel: four 16-byte vectors per 64-byte block.
//
// Standard and project headers come first, outside the target region, so
// that only this file's own code is compiled for SSE4.2.
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "structural/markup_bytes.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("sse4.2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("sse4.2")
#endif

#include "structural/simd/block_kernel.h"

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
                              Sse42Blocks::attribute_masks};

}  // namespace quorvane::structural
