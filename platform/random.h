// Unpredictable bytes from the system, for the attribute maps' hash keys.
#pragma once

#include <cstddef>

namespace quorvane::platform {

// Fills `length` bytes at `into`, retrying interrupted calls; false when
// the system has no random source to give them.
bool fill_random(void* into, std::size_t length) noexcept;

}  // namespace quorvane::platform
