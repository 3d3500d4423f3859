// The classification kernels: the quote rule on hand-checked inputs, regions
// crossing block boundaries, and bit-identical results across kernels.
#include "structural/simd/classify.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cpu.h"

namespace quorvane::structural {
namespace {

struct KernelCase {
    const char* name;
    ClassMasks (*classify)(const std::uint8_t*, std::size_t);
    bool (*supported)() noexcept;
};

bool always() noexcept { return true; }

const KernelCase kKernels[] = {
    {"scalar", classify_scalar, always},
#if QUORVANE_X86_64
    {"sse42", classify_sse42, cpu_has_sse42},
    {"avx2", classify_avx2, cpu_has_avx2},
#endif
};

ClassMasks run(const KernelCase& kernel, std::string_view input) {
    return kernel.classify(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

// One character per input byte: 'l' marked in lt_bits, 'g' in gt_bits, '.'
// neither; also checks the array shapes and that no bit lies past the end.
std::string marks_of(const ClassMasks& masks) {
    const std::size_t words = (masks.len + 63) / 64;
    EXPECT_EQ(masks.lt_bits.size(), words);
    EXPECT_EQ(masks.gt_bits.size(), words);
    std::string marks(masks.len, '.');
    for (std::size_t bit = 0; bit < words * 64; ++bit) {
        const bool lt = (masks.lt_bits[bit / 64] >> (bit % 64)) & 1u;
        const bool gt = (masks.gt_bits[bit / 64] >> (bit % 64)) & 1u;
        if (bit >= masks.len) {
            EXPECT_FALSE(lt || gt) << "bit past the end at " << bit;
        } else if (lt || gt) {
            EXPECT_FALSE(lt && gt) << "both marks at " << bit;
            marks[bit] = lt ? 'l' : 'g';
        }
    }
    return marks;
}

// A model written differently from the kernels: jump from each opening
// quote straight to its partner.
std::string model_marks(std::string_view input) {
    std::string marks(input.size(), '.');
    for (std::size_t i = 0; i < input.size(); ++i) {
        const char byte = input[i];
        if (byte == '"' || byte == '\'') {
            i = input.find(byte, i + 1);
            if (i == std::string_view::npos) break;
        } else if (byte == '<') {
            marks[i] = 'l';
        } else if (byte == '>') {
            marks[i] = 'g';
        }
    }
    return marks;
}

class KernelTest : public ::testing::TestWithParam<KernelCase> {
protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " not supported here";
    }
};

struct QuoteCase {
    std::string_view input;
    std::string_view marks;
};

TEST_P(KernelTest, AppliesTheQuoteRule) {
    const QuoteCase cases[] = {
        {"", ""},
        {"<a>", "l.g"},
        {R"(<a b=">">)", "l.......g"},
        {"<a b='>'>", "l.......g"},
        {R"("'"<')", "...l."},  // an apostrophe inside double quotes opens nothing
        {R"('"'>")", "...g."},  // and a double quote inside apostrophes neither
        {"<p>it's <b>x</b></p>", "l.g................."},
        {R"(<a>"<b>)", "l.g...."},
        {R"(x"<>"<>'<>'<>)", ".....lg....lg"},
    };
    for (const QuoteCase& c : cases) {
        const ClassMasks masks = run(GetParam(), c.input);
        EXPECT_EQ(masks.len, c.input.size());
        EXPECT_EQ(marks_of(masks), c.marks) << "input: " << c.input;
    }
}

TEST_P(KernelTest, EmptyInputAllocatesNothing) {
    const ClassMasks masks = run(GetParam(), "");
    EXPECT_EQ(masks.lt_bits.capacity(), 0u);
    EXPECT_EQ(masks.gt_bits.capacity(), 0u);
}

// Quoted regions laid over a field of '<' and '>' so that they start and end
// at block edges, span whole quote-free blocks, or never end.
struct RegionCase {
    std::size_t len;
    std::vector<std::pair<std::size_t, char>> quotes;
    // Inclusive [first, last] intervals that must come out unmarked.
    std::vector<std::pair<std::size_t, std::size_t>> inside;
};

TEST_P(KernelTest, MasksQuotedRegionsAcrossBlocks) {
    const RegionCase cases[] = {
        {300, {{10, '"'}, {200, '"'}}, {{10, 200}}},
        {300, {{10, '\''}, {200, '\''}}, {{10, 200}}},
        {200, {{63, '"'}, {64, '"'}}, {{63, 64}}},
        {200, {{63, '\''}, {128, '\''}}, {{63, 128}}},
        {192, {{0, '"'}, {191, '"'}}, {{0, 191}}},
        {129, {{64, '\''}}, {{64, 128}}},
        {130, {{127, '"'}}, {{127, 129}}},
        // Both kinds in one block, each hiding the other's quotes.
        {300,
         {{5, '\''}, {30, '"'}, {100, '\''}, {130, '"'}, {140, '\''}, {250, '"'}},
         {{5, 100}, {130, 250}}},
        {160,
         {{2, '"'}, {3, '\''}, {4, '"'}, {5, '\''}, {6, '\''}, {70, '"'}, {90, '"'}},
         {{2, 4}, {5, 6}, {70, 90}}},
        // A double quote met while the apostrophe carry is set.
        {200, {{60, '\''}, {66, '"'}, {70, '\''}, {72, '"'}, {150, '"'}}, {{60, 70}, {72, 150}}},
    };
    for (const RegionCase& c : cases) {
        std::string input(c.len, '.');
        std::string expected(c.len, '.');
        for (std::size_t i = 0; i < c.len; ++i) {
            input[i] = i % 3 == 0 ? '<' : (i % 3 == 1 ? '>' : 'x');
            expected[i] = i % 3 == 0 ? 'l' : (i % 3 == 1 ? 'g' : '.');
        }
        for (const auto& [at, quote] : c.quotes) input[at] = quote, expected[at] = '.';
        for (const auto& [first, last] : c.inside) {
            for (std::size_t i = first; i <= last; ++i) expected[i] = '.';
        }
        EXPECT_EQ(marks_of(run(GetParam(), input)), expected) << "len " << c.len;
    }
}

std::string random_input(std::mt19937_64& rng, std::size_t len, std::string_view alphabet) {
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string input(len, ' ');
    for (char& byte : input) byte = alphabet[pick(rng)];
    return input;
}

TEST_P(KernelTest, AgreesWithTheOtherKernelsOnRandomInput) {
    // Dense alphabets put both kinds in most blocks; sparse ones carry quoted
    // regions over many blocks. The last has an apostrophe every few hundred
    // bytes, so runs of blocks with double quotes only alternate with blocks
    // where both kinds decide, and regions of either kind stay open across them.
    const std::string rare_apostrophes = R"(<>"""")" + std::string(600, 'a') + "'";
    const std::string_view alphabets[] = {
        rare_apostrophes,
        R"(<>"'a)",
        R"(<<>>""''ab =/)",
        R"(<>"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa)",
        R"(<>'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa'")",
    };
    std::vector<std::size_t> lengths = {0, 1, 63, 64, 65, 127, 128, 129, 191, 192, 193};
    std::mt19937_64 rng(20240611);
    std::uniform_int_distribution<std::size_t> random_len(0, 6000);
    for (int i = 0; i < 40; ++i) lengths.push_back(random_len(rng));

    for (const std::string_view alphabet : alphabets) {
        for (const std::size_t len : lengths) {
            const std::string input = random_input(rng, len, alphabet);
            const ClassMasks tested = run(GetParam(), input);
            const ClassMasks scalar = run(kKernels[0], input);
            ASSERT_EQ(tested.lt_bits, scalar.lt_bits) << "input: " << input;
            ASSERT_EQ(tested.gt_bits, scalar.gt_bits) << "input: " << input;
            ASSERT_EQ(marks_of(tested), model_marks(input)) << "input: " << input;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllKernels, KernelTest, ::testing::ValuesIn(kKernels),
                         [](const auto& info) { return std::string(info.param.name); });

// Run by ctest with QUORVANE_KERNEL set; skipped in the unforced run.
TEST(KernelForcing, TakesEffect) {
    const char* expected = std::getenv("QUORVANE_EXPECT_KERNEL");
    if (expected == nullptr) GTEST_SKIP() << "no kernel forced";
    const std::string_view name{expected};
    if (name == "scalar") {
        EXPECT_EQ(active_kernel(), Kernel::Scalar);
    } else if (name == "sse42") {
        if (!cpu_has_sse42()) GTEST_SKIP() << "no SSE4.2 here";
        EXPECT_EQ(active_kernel(), Kernel::Sse42);
    } else {
        FAIL() << "unknown kernel " << name;
    }
}

TEST(KernelForcing, UnforcedPicksTheWidestSupported) {
    const char* forced = std::getenv("QUORVANE_KERNEL");
    if (forced != nullptr && *forced != '\0') GTEST_SKIP() << "a kernel is forced";
    const Kernel widest =
        cpu_has_avx2() ? Kernel::Avx2 : (cpu_has_sse42() ? Kernel::Sse42 : Kernel::Scalar);
    EXPECT_EQ(active_kernel(), widest);
}

}  // namespace
}  // namespace quorvane::structural
