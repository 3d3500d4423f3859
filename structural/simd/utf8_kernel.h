// UTF-8 validation a vector at a time, written once for every instruction
// set: `V` supplies the vector operations, and each vector kernel includes
// this header inside its own target region.
//
// Every byte is judged with the one before it by three nibble lookups: each
// table bit names a fault that a pair of bytes can show (a lead byte not
// followed by a continuation, a continuation after an ASCII byte, an
// overlong form, a surrogate, a code point past U+10FFFF), and a pair is bad
// when all three lookups agree on a bit. A continuation after a
// continuation is right only as the third or fourth byte of a sequence,
// which the bytes two and three back tell.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvane::structural::utf8 {

inline constexpr std::uint8_t kTooShort = 1u << 0;          // lead, then no continuation
inline constexpr std::uint8_t kTooLong = 1u << 1;           // ASCII, then a continuation
inline constexpr std::uint8_t kOverlong3 = 1u << 2;         // E0, then 80..9F
inline constexpr std::uint8_t kTooLarge = 1u << 3;          // F4, then 90..BF; F5..FF
inline constexpr std::uint8_t kSurrogate = 1u << 4;         // ED, then A0..BF
inline constexpr std::uint8_t kOverlong2 = 1u << 5;         // C0 or C1, then a continuation
inline constexpr std::uint8_t kTooLarge1000 = 1u << 6;      // F5..FF, then 80..8F
inline constexpr std::uint8_t kOverlong4 = 1u << 6;         // F0, then 80..8F
inline constexpr std::uint8_t kTwoContinuations = 1u << 7;  // a continuation after one
// Faults that hold whatever the first byte's low nibble.
inline constexpr std::uint8_t kAnyLow = kTooShort | kTooLong | kTwoContinuations;

// By the high nibble of the first byte of a pair.
inline constexpr std::array<std::uint8_t, 16> kFirstHigh = {
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,
    kTooLong,  // ASCII
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,
    kTwoContinuations,                                   // 10__
    kTooShort | kOverlong2,                              // 1100
    kTooShort,                                           // 1101
    kTooShort | kOverlong3 | kSurrogate,                 // 1110
    kTooShort | kTooLarge | kTooLarge1000 | kOverlong4,  // 1111
};

// By the low nibble of the first byte of a pair.
inline constexpr std::array<std::uint8_t, 16> kFirstLow = {
    kAnyLow | kOverlong3 | kOverlong2 | kOverlong4,  // ___0000
    kAnyLow | kOverlong2,                            // ___0001
    kAnyLow,
    kAnyLow,
    kAnyLow | kTooLarge,                  // ___0100
    kAnyLow | kTooLarge | kTooLarge1000,  // ___0101 and above
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000 | kSurrogate,  // ___1101
    kAnyLow | kTooLarge | kTooLarge1000,
    kAnyLow | kTooLarge | kTooLarge1000,
};

// By the high nibble of the second byte of a pair.
inline constexpr std::array<std::uint8_t, 16> kSecondHigh = {
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge1000 | kOverlong4,  // 1000
    kTooLong | kOverlong2 | kTwoContinuations | kOverlong3 | kTooLarge,                   // 1001
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,                   // 101_
    kTooLong | kOverlong2 | kTwoContinuations | kSurrogate | kTooLarge,
    kTooShort,
    kTooShort,
    kTooShort,
    kTooShort,  // 11__
};

// A byte at or above these, as the last, second to last or third to last
// of the input, leads a sequence the input cuts short.
template <std::size_t Width>
inline constexpr std::array<std::uint8_t, Width> kIncompleteLimits = [] {
    std::array<std::uint8_t, Width> limits{};
    limits.fill(0xFF);
    limits[Width - 3] = 0xF0 - 1;
    limits[Width - 2] = 0xE0 - 1;
    limits[Width - 1] = 0xC0 - 1;
    return limits;
}();

template <class V>
bool is_valid(const std::uint8_t* bytes, std::size_t len) noexcept {
    using Vec = typename V::Vec;
    constexpr std::size_t kWidth = V::kWidth;
    const Vec first_high = V::table(kFirstHigh.data());
    const Vec first_low = V::table(kFirstLow.data());
    const Vec second_high = V::table(kSecondHigh.data());
    const Vec incomplete_limits = V::load(kIncompleteLimits<kWidth>.data());
    Vec errors = V::zero();
    Vec previous = V::zero();
    Vec incomplete = V::zero();
    const auto check = [&](Vec input) {
        if (V::is_ascii(input)) {
            // A sequence the previous vector left open ends here.
            errors = V::bit_or(errors, incomplete);
            incomplete = V::zero();
        } else {
            const Vec before = V::template previous<1>(input, previous);
            const Vec faults = V::bit_and(V::bit_and(V::lookup(first_high, V::high_nibbles(before)),
                                                     V::lookup(first_low, V::low_nibbles(before))),
                                          V::lookup(second_high, V::high_nibbles(input)));
            // The high bit is set where the byte two back leads three or
            // more bytes, or the byte three back leads four.
            const Vec third_or_fourth =
                V::bit_or(V::saturating_sub(V::template previous<2>(input, previous), 0xE0 - 0x80),
                          V::saturating_sub(V::template previous<3>(input, previous), 0xF0 - 0x80));
            errors =
                V::bit_or(errors, V::bit_xor(V::bit_and(third_or_fourth, V::splat(0x80)), faults));
            incomplete = V::saturating_sub(input, incomplete_limits);
        }
        previous = input;
    };
    std::size_t at = 0;
    for (; at + kWidth <= len; at += kWidth) check(V::load(bytes + at));
    if (at < len) {
        // Padded with ASCII, which ends any sequence still open.
        std::array<std::uint8_t, kWidth> tail{};
        std::memcpy(tail.data(), bytes + at, len - at);
        check(V::load(tail.data()));
    }
    return !V::any(V::bit_or(errors, incomplete));
}

}  // namespace quorvane::structural::utf8
