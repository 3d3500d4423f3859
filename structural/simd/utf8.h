// UTF-8 validation: whether bytes are well-formed UTF-8 (no overlong form,
// no surrogate, nothing past U+10FFFF, no sequence cut short). The kernels
// agree on every input; is_valid_utf8 uses the one the processor's kernel
// choice names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane::structural {

// The length of the longest well-formed prefix: where the first fault
// stands, or `len` when there is none. Byte at a time, for error messages.
std::size_t utf8_valid_prefix(const std::uint8_t* input, std::size_t len) noexcept;

bool is_valid_utf8_scalar(const std::uint8_t* input, std::size_t len) noexcept;
// Built on x86-64 only; run only on a processor with SSE4.2.
bool is_valid_utf8_sse42(const std::uint8_t* input, std::size_t len) noexcept;
// Built on x86-64 only; run only with AVX2.
bool is_valid_utf8_avx2(const std::uint8_t* input, std::size_t len) noexcept;

bool is_valid_utf8(const std::uint8_t* input, std::size_t len) noexcept;
inline bool is_valid_utf8(std::string_view text) noexcept {
    return is_valid_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace quorvane::structural
