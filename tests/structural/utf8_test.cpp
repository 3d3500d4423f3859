// UTF-8 validation: every kernel against a decoder that judges code points,
// with byte pairs and longer sequences at every place a vector boundary can
// cut them, and random text with random damage.
#include "structural/simd/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu.h"
#include "structural/simd/classify.h"

namespace quorvane::structural {
namespace {

struct Validator {
    const char* name;
    bool (*is_valid)(const std::uint8_t*, std::size_t) noexcept;
    bool (*supported)() noexcept;
};

bool always() noexcept { return true; }

const Validator kValidators[] = {
    {"scalar", is_valid_utf8_scalar, always},
#if QUORVANE_X86_64
    {"sse42", is_valid_utf8_sse42, cpu_has_sse42},
    {"avx2", is_valid_utf8_avx2, cpu_has_avx2},
#endif
};

// Decodes each sequence to its code point and judges that: the shortest
// form, no surrogate, nothing past U+10FFFF.
bool decodes(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t lead = bytes[i];
        std::size_t length = 1;
        std::uint32_t point = lead;
        if (lead >= 0xF0 && lead < 0xF8) {
            length = 4, point = lead & 0x07u;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            length = 3, point = lead & 0x0Fu;
        } else if (lead >= 0xC0 && lead < 0xE0) {
            length = 2, point = lead & 0x1Fu;
        } else if (lead >= 0x80) {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0u) != 0x80u) return false;
            point = (point << 6) | (bytes[i + k] & 0x3Fu);
        }
        constexpr std::uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kShortest[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000))
            return false;
        i += length;
    }
    return true;
}

// `sequence` placed at `at` in ASCII filler `length` bytes long (or ending
// the input when it reaches that far).
std::vector<std::uint8_t> placed(const std::vector<std::uint8_t>& sequence, std::size_t at,
                                 std::size_t length) {
    std::vector<std::uint8_t> bytes(std::max(length, at + sequence.size()), 'x');
    std::copy(sequence.begin(), sequence.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
}

// Places where a 16- or 32-byte vector boundary, or the end, falls inside
// or right after a sequence.
constexpr std::size_t kPlaces[] = {0, 1, 13, 14, 15, 16, 29, 30, 31, 32, 61, 62, 63};

void expect_agreement(const std::vector<std::uint8_t>& sequence) {
    for (const std::size_t at : kPlaces) {
        for (const std::size_t length : {at + sequence.size(), std::size_t{70}}) {
            const std::vector<std::uint8_t> bytes = placed(sequence, at, length);
            const bool expected = decodes(bytes);
            for (const Validator& validator : kValidators) {
                if (!validator.supported()) continue;
                ASSERT_EQ(validator.is_valid(bytes.data(), bytes.size()), expected)
                    << validator.name << " at " << at << " in " << bytes.size() << " bytes";
            }
        }
    }
}

TEST(Utf8, EveryBytePair) {
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            expect_agreement({static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)});
        }
    }
}

TEST(Utf8, LongerSequencesWithEveryLeadAndSecondByte) {
    // Bytes at the edges of the continuation range and around it.
    constexpr std::uint8_t kLater[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (unsigned lead = 0xE0; lead < 256; ++lead) {
        for (unsigned second = 0x80; second < 0xC0; ++second) {
            for (const std::uint8_t third : kLater) {
                const auto l = static_cast<std::uint8_t>(lead),
                           s = static_cast<std::uint8_t>(second);
                expect_agreement({l, s, third});
                if (lead >= 0xF0) {
                    for (const std::uint8_t fourth : kLater)
                        expect_agreement({l, s, third, fourth});
                }
            }
        }
    }
}

TEST(Utf8, RandomTextWithRandomDamage) {
    std::mt19937 random(7);
    constexpr std::uint32_t kPoints[] = {0x24,   0xE9,    0x7FF,   0x800,   0x20AC,
                                         0xFFFD, 0x10000, 0x1F600, 0x10FFFF};
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::uint8_t> bytes;
        const int count = static_cast<int>(random() % 120);
        for (int i = 0; i < count; ++i) {
            const std::uint32_t point = kPoints[random() % std::size(kPoints)];
            if (point < 0x80) {
                bytes.push_back(static_cast<std::uint8_t>(point));
            } else if (point < 0x800) {
                bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xC0 | (point >> 6)),
                                           static_cast<std::uint8_t>(0x80 | (point & 0x3F))});
            } else if (point < 0x10000) {
                bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xE0 | (point >> 12)),
                                           static_cast<std::uint8_t>(0x80 | ((point >> 6) & 0x3F)),
                                           static_cast<std::uint8_t>(0x80 | (point & 0x3F))});
            } else {
                bytes.insert(bytes.end(), {static_cast<std::uint8_t>(0xF0 | (point >> 18)),
                                           static_cast<std::uint8_t>(0x80 | ((point >> 12) & 0x3F)),
                                           static_cast<std::uint8_t>(0x80 | ((point >> 6) & 0x3F)),
                                           static_cast<std::uint8_t>(0x80 | (point & 0x3F))});
            }
        }
        if (!bytes.empty() && random() % 2 == 0) {
            bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
        }
        if (!bytes.empty() && random() % 4 == 0) bytes.resize(random() % bytes.size());
        const bool expected = decodes(bytes);
        for (const Validator& validator : kValidators) {
            if (!validator.supported()) continue;
            ASSERT_EQ(validator.is_valid(bytes.data(), bytes.size()), expected)
                << validator.name << " in round " << round;
        }
    }
}

}  // namespace
}  // namespace quorvane::structural
