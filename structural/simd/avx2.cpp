// The 256-bit kernel: two 32-byte vectors per 64-byte block.
//
// Standard and project headers come first, outside the target region, so
// that only this file's own code is compiled for AVX2.
#include <immintrin.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "structural/simd/block_kernel.h"

namespace quorvane::structural {
namespace {

struct Avx2Blocks {
    struct Lanes {
        __m256i low;
        __m256i high;
    };

    static Lanes load(const std::uint8_t* block) noexcept {
        const auto* p = reinterpret_cast<const __m256i*>(block);
        return {_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)};
    }

    static std::uint64_t equal(const Lanes& lanes, std::uint8_t byte) noexcept {
        const __m256i needle = _mm256_set1_epi8(static_cast<char>(byte));
        const auto low =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lanes.low, needle)));
        const auto high =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lanes.high, needle)));
        return (std::uint64_t{high} << 32) | low;
    }

    static std::uint64_t equal(const std::uint8_t* block, std::uint8_t byte) noexcept {
        return equal(load(block), byte);
    }

    static BlockClasses classes(const std::uint8_t* block) noexcept {
        const Lanes lanes = load(block);
        return {equal(lanes, kLessThan), equal(lanes, kGreaterThan), equal(lanes, kDoubleQuote),
                equal(lanes, kApostrophe)};
    }
};

std::size_t count_byte_avx2(const std::uint8_t* input, std::size_t len,
                            std::uint8_t byte) noexcept {
    return count_byte_blocks<Avx2Blocks>(input, len, byte);
}

std::size_t find_unmarked_avx2(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                               std::span<const std::uint64_t> marked, std::size_t from) noexcept {
    return find_unmarked_blocks<Avx2Blocks>(input, len, byte, marked, from);
}

}  // namespace

ClassMasks classify_avx2(const std::uint8_t* input, std::size_t len) noexcept {
    return classify_blocks<Avx2Blocks>(input, len);
}

}  // namespace quorvane::structural

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace quorvane::structural {

const KernelSet kAvx2Kernels{Kernel::Avx2, classify_avx2, count_byte_avx2, find_unmarked_avx2};

}  // namespace quorvane::structural
