// The window masks of the search builder and of the attribute walk: every
// kernel marks exactly the bytes each mask stands for, at every position of
// the window.
#include "structural/simd/search_masks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "platform/cpu.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"

namespace quorvane::structural {
namespace {

bool is_whitespace(std::uint8_t byte) {
    return byte == 0x09 || byte == 0x0A || byte == 0x0C || byte == 0x0D || byte == 0x20;
}

SearchMasks model(const std::uint8_t* window) {
    SearchMasks masks{};
    for (unsigned j = 0; j < 64; ++j) {
        const std::uint8_t b = window[j];
        const std::uint64_t bit = std::uint64_t{1} << j;
        if (b == '<') masks.lt |= bit;
        if (b == '>') masks.gt |= bit;
        if (b == '"') masks.double_quotes |= bit;
        if (b == '\'') masks.apostrophes |= bit;
        if (is_whitespace(b) || b == '/' || b == '>') masks.open_name_end |= bit;
        if (is_whitespace(b) || b == '>') masks.close_name_end |= bit;
        if (b == '"' || b == '\'' || b == '/' || b == '>') masks.attribute_stop |= bit;
    }
    return masks;
}

void expect_model(const KernelSet& set, const std::uint8_t* window) {
    const SearchMasks expected = model(window);
    const SearchMasks actual = set.search_masks(window);
    EXPECT_EQ(actual.lt, expected.lt);
    EXPECT_EQ(actual.gt, expected.gt);
    EXPECT_EQ(actual.double_quotes, expected.double_quotes);
    EXPECT_EQ(actual.apostrophes, expected.apostrophes);
    EXPECT_EQ(actual.open_name_end, expected.open_name_end);
    EXPECT_EQ(actual.close_name_end, expected.close_name_end);
    EXPECT_EQ(actual.attribute_stop, expected.attribute_stop);
}

AttributeMasks attribute_model(const std::uint8_t* window) {
    AttributeMasks masks{};
    for (unsigned j = 0; j < 64; ++j) {
        const std::uint8_t b = window[j];
        const std::uint64_t bit = std::uint64_t{1} << j;
        if (is_whitespace(b)) masks.whitespace |= bit;
        if (b == '=') masks.equals |= bit;
        if (b == '"') masks.double_quotes |= bit;
        if (b == '\'') masks.apostrophes |= bit;
        if (b == '<' || b == '&' || b == '\t' || b == '\n' || b == '\r') masks.value_stop |= bit;
    }
    return masks;
}

void expect_attribute_model(const KernelSet& set, const std::uint8_t* window) {
    const AttributeMasks expected = attribute_model(window);
    const AttributeMasks actual = set.attribute_masks(window);
    EXPECT_EQ(actual.whitespace, expected.whitespace);
    EXPECT_EQ(actual.equals, expected.equals);
    EXPECT_EQ(actual.double_quotes, expected.double_quotes);
    EXPECT_EQ(actual.apostrophes, expected.apostrophes);
    EXPECT_EQ(actual.value_stop, expected.value_stop);
}

void check_set(const KernelSet& set) {
    // Every byte value at every position, among bytes that match nothing.
    for (unsigned value = 0; value < 256; ++value) {
        for (unsigned at = 0; at < 64; ++at) {
            std::uint8_t window[64];
            for (std::uint8_t& b : window) b = 'a';
            window[at] = static_cast<std::uint8_t>(value);
            expect_model(set, window);
            expect_attribute_model(set, window);
        }
    }
    std::mt19937_64 rng(7);
    const std::string dense = "<>\"'/=& \t\n\f\r\v?a\x80\xff";
    for (int i = 0; i < 2000; ++i) {
        std::uint8_t window[64];
        for (std::uint8_t& b : window) {
            b = i % 2 == 0 ? static_cast<std::uint8_t>(rng())
                           : static_cast<std::uint8_t>(dense[rng() % dense.size()]);
        }
        expect_model(set, window);
        expect_attribute_model(set, window);
    }
}

TEST(SearchMasks, ScalarKernelMarksTheRightBytes) { check_set(kScalarKernels); }

#if QUORVANE_X86_64
TEST(SearchMasks, Sse42KernelMarksTheRightBytes) {
    if (!cpu_has_sse42()) GTEST_SKIP() << "no SSE4.2";
    check_set(kSse42Kernels);
}

TEST(SearchMasks, Avx2KernelMarksTheRightBytes) {
    if (!cpu_has_avx2()) GTEST_SKIP() << "no AVX2";
    check_set(kAvx2Kernels);
}
#endif

TEST(SearchMasks, ActiveKernelIsTheDispatchedOne) {
#if QUORVANE_X86_64
    const Kernel kernel = active_kernel();
    const KernelSet& expected = kernel == Kernel::Avx2    ? kAvx2Kernels
                                : kernel == Kernel::Sse42 ? kSse42Kernels
                                                          : kScalarKernels;
#else
    EXPECT_EQ(active_kernel(), Kernel::Scalar);
    const KernelSet& expected = kScalarKernels;
#endif
    EXPECT_EQ(search_masks_kernel(), expected.search_masks);
    EXPECT_EQ(attribute_masks_kernel(), expected.attribute_masks);
}

}  // namespace
}  // namespace quorvane::structural
