// Storage for the reader's large arrays. They are mapped on their own and
// asked for 2 MiB pages: a document's index spans tens of megabytes, and
// faulting it in 4 KiB at a time costs more than writing it. Released
// regions are kept, up to a bound, for the next read to reuse.
#pragma once

#include <cstddef>

namespace quorvane::structural {

// Requests at least this large are mapped; smaller ones use the heap.
inline constexpr std::size_t kLargeAllocationBytes = std::size_t{2} << 20;

// Starts on a huge-page boundary. Throws std::bad_alloc when the system
// has no room. Safe to call from any thread.
void* allocate_large(std::size_t bytes);
void release_large(void* at, std::size_t bytes) noexcept;

}  // namespace quorvane::structural
