// Random bytes for the hash keys: the whole request is filled, afresh each
// time.
#include "platform/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

namespace quorvane::platform {
namespace {

TEST(Random, FillsEveryByteOfALargeRequest) {
    // Past 256 bytes the system may return fewer than asked for.
    std::vector<unsigned char> bytes(1 << 20, 0);
    ASSERT_TRUE(fill_random(bytes.data(), bytes.size()));
    // Each run of 32 bytes is all zero with odds of 2^-256.
    for (std::size_t at = 0; at < bytes.size(); at += 32) {
        ASSERT_TRUE(std::any_of(bytes.begin() + at, bytes.begin() + at + 32,
                                [](unsigned char b) { return b != 0; }))
            << "bytes from " << at << " were left unfilled";
    }
}

TEST(Random, TwoFillsDiffer) {
    std::array<unsigned char, 16> first{};
    std::array<unsigned char, 16> second{};
    ASSERT_TRUE(fill_random(first.data(), first.size()));
    ASSERT_TRUE(fill_random(second.data(), second.size()));
    EXPECT_NE(first, second);
}

}  // namespace
}  // namespace quorvane::platform
