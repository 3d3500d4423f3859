// Byte classification: marks every '<' and '>' that lies outside a quoted
// region, 64 input bytes per mask word. Three kernels give bit-identical
// results; classify_bytes picks the widest one the processor supports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvane::structural {

struct ClassMasks {
    // Bit (i % 64) of word (i / 64) is set iff byte i is '<' (resp. '>') outside quotes.
    std::vector<std::uint64_t> lt_bits;
    std::vector<std::uint64_t> gt_bits;
    std::uint64_t len = 0;
};

// Ordered from narrowest to widest: a forced choice may only lower it.
enum class Kernel : std::uint8_t { Scalar, Sse42, Avx2 };

// The input is borrowed, never copied, and need not be valid UTF-8.
// They allocate the masks: a failed allocation throws std::bad_alloc.
ClassMasks classify_scalar(const std::uint8_t* input, std::size_t len);
// Built on x86-64 only (QUORVANE_X86_64); run only on a processor with SSE4.2.
ClassMasks classify_sse42(const std::uint8_t* input, std::size_t len);
// Built on x86-64 only; run only with AVX2 and the OS-enabled 256-bit state.
ClassMasks classify_avx2(const std::uint8_t* input, std::size_t len);

// Dispatches to the kernel chosen once per process.
ClassMasks classify_bytes(const std::uint8_t* input, std::size_t len);

// The kernel classify_bytes uses. The environment variable QUORVANE_KERNEL
// (scalar, sse42, avx2) narrows the choice, for tests; it never selects a
// kernel the processor cannot run.
Kernel active_kernel() noexcept;
// What the processor (and OS) support, detected once.
bool cpu_has_sse42() noexcept;
bool cpu_has_avx2() noexcept;

// Helpers on the active kernel's vectors, for the index builders' sampling
// and checks.
//
// Number of bytes equal to `byte`.
std::size_t count_byte(const std::uint8_t* input, std::size_t len, std::uint8_t byte) noexcept;
// First offset >= from holding `byte` whose bit in `marked` (laid out like
// ClassMasks, ceil(len / 64) words) is clear; len when there is none.
std::size_t find_unmarked(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                          std::span<const std::uint64_t> marked, std::size_t from) noexcept;

}  // namespace quorvane::structural
