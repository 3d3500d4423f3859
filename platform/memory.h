// Storage for the large arrays of a read or a write and the chunks of a
// read's tables. They are mapped on their own: released, they leave no
// holes in the heap, and they are kept, up to a bound, for the next call to
// reuse, since faulting fresh pages in costs more than the work a call does
// on them.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorvane::platform {

// Requests at least this large are mapped; smaller ones use the heap.
inline constexpr std::size_t kLargeAllocationBytes = std::size_t{2} << 20;

// Working memory of one call past this size is better taken from the kept
// regions below than from the heap: the C library hands a heap block this
// large out as fresh pages on nearly every call, and faulting them in costs
// more than the work done in them.
inline constexpr std::size_t kLargestHeapWorkingBytes = std::size_t{64} << 10;

// Working arrays that die with their call: whole 2 MiB pages where the
// system gives them, starting on a huge-page boundary. Throws
// std::bad_alloc when the system has no room. Safe to call from any thread.
void* allocate_large(std::size_t bytes);
void release_large(void* at, std::size_t bytes) noexcept;

// Storage a returned tree may keep: ordinary pages only, so a small tree
// never pins a huge page. `bytes` is a multiple of kPageBytes. Reused only
// for a request of the same length. Throws std::bad_alloc when the system
// has no room.
inline constexpr std::size_t kPageBytes = 4096;
void* allocate_pages(std::size_t bytes);
// The same, saying whether the pages were mapped just now (none in memory
// yet) rather than kept from an earlier use (most still in memory).
void* allocate_pages(std::size_t bytes, bool& freshly_mapped);
void release_pages(void* at, std::size_t bytes) noexcept;

// The machine's memory, UINT64_MAX when the system does not tell.
std::uint64_t physical_memory_bytes() noexcept;

// Faults in, for writing, the whole pages that lie inside [begin, end).
// Only a speed-up: where the system lacks the request it does nothing.
void prefault_for_writing(void* begin, void* end) noexcept;

// Asks for huge pages for the whole huge pages inside [begin, end) of
// memory allocated elsewhere and not yet touched, such as a large result
// object: it is then faulted in a 2 MiB page at a time instead of 4 KiB.
// Only a speed-up: where the system lacks the request it does nothing.
void advise_huge_pages(void* begin, void* end) noexcept;

// Kept regions no call has taken for this long are given back to the
// system by the next call of release_idle_regions: a process that read one
// large document and then only small ones does not hold the first one's
// working memory for good.
inline constexpr long kIdleSeconds = 10;

// Called as each read or write starts (see ReserveCall); costs one atomic
// load when nothing is kept. The time is the monotonic clock's in seconds,
// read only when something is kept unless given.
inline constexpr long kClockNow = LONG_MIN;
void release_idle_regions(long now_seconds = kClockNow) noexcept;

// Bytes kept for the next read. The bound is QUORVANE_KEEP_MIB mebibytes
// (256 when unset or not a number; 0 keeps nothing), read once, for each
// of the most ReserveCalls that ran at once since kept regions last idled.
std::size_t kept_bytes() noexcept;

// Held by each read or write while it runs; it first gives back the idle
// regions (release_idle_regions). Reads running at once on several cores
// each release a working set of their own: counting them lets the reserve
// keep every one for its next read, where one bound for all would unmap
// some and the next read would fault them in afresh.
class ReserveCall {
public:
    ReserveCall() noexcept;
    ~ReserveCall();
    ReserveCall(const ReserveCall&) = delete;
    ReserveCall& operator=(const ReserveCall&) = delete;
};

// Allocates what a growing array asks for from the regions above once it
// is large, and leaves the elements it grows by uninitialised instead of
// zeroing them: its users write every element they keep, and zeroing tens
// of megabytes first would cost about as much as writing the records.
// Records that can be copied bytewise begin to exist with their storage,
// so growth runs no constructor for them, not even a default member
// initialiser.
template <class T>
struct RegionAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = RegionAllocator<U>;
    };

    RegionAllocator() noexcept = default;
    template <class U>
    RegionAllocator(const RegionAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n >= kLargeAllocationBytes / sizeof(T))
            return static_cast<T*>(allocate_large(n * sizeof(T)));
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* at, std::size_t n) noexcept {
        if (n >= kLargeAllocationBytes / sizeof(T)) {
            release_large(at, n * sizeof(T));
        } else {
            std::allocator<T>::deallocate(at, n);
        }
    }

    template <class U>
    void construct(U* at) noexcept {
        if constexpr (!std::is_trivially_copyable_v<U>) ::new (static_cast<void*>(at)) U;
    }
    template <class U, class... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using RegionVector = std::vector<T, RegionAllocator<T>>;

}  // namespace quorvane::platform
