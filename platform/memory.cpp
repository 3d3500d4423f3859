#include "platform/memory.h"

#include <pthread.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace quorvane::platform {
namespace {

constexpr std::size_t kHugePage = kLargeAllocationBytes;

std::size_t whole_huge_pages(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* map_plain(std::size_t length) {
    void* mapped =
        mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    return mapped;
}

void* map_huge(std::size_t length) {
    // One huge page more than needed, so the kept part can start on a
    // huge-page boundary; the ends beyond it are returned at once.
    void* mapped = map_plain(length + kHugePage);
    const auto base = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (base + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    if (aligned != base) munmap(mapped, aligned - base);
    const std::uintptr_t tail = aligned + length;
    if (const std::uintptr_t mapped_end = base + length + kHugePage; tail != mapped_end) {
        munmap(reinterpret_cast<void*>(tail), mapped_end - tail);
    }
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

long monotonic_seconds() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return now.tv_sec;
}

// QUORVANE_KEEP_MIB as bytes, or the default when it is unset or not a
// whole number; a bound past what the address space holds is no bound.
std::size_t bound_from_environment() noexcept {
    constexpr std::size_t kDefaultMib = 256;
    const char* setting = std::getenv("QUORVANE_KEEP_MIB");
    if (!setting) return kDefaultMib << 20;
    std::size_t mib = 0;
    const char* end = setting + std::strlen(setting);
    const auto [stop, error] = std::from_chars(setting, end, mib);
    if (error != std::errc() || stop != end || stop == setting) return kDefaultMib << 20;
    return mib > (SIZE_MAX >> 20) ? SIZE_MAX : mib << 20;
}

// Regions released by one read, kept for the next. A page the system has
// to hand out afresh is zeroed and mapped first, which costs more than the
// work a read does on it; so the regions stay mapped, up to a bound, and
// are marked free so that the system may still take them under pressure.
class RegionReserve {
public:
    // A kept region of at least `length` bytes, cut to `length` (the rest
    // stays kept); null if none is long enough. Huge regions are cut; a
    // region of ordinary pages serves only a request of its own length, so
    // nothing a tree keeps ever shares a huge page.
    void* take(std::size_t length, bool huge) noexcept {
        if (bytes_.load(std::memory_order_relaxed) == 0) return nullptr;
        std::lock_guard hold(lock_);
        std::size_t best = count_;
        for (std::size_t i = 0; i < count_; ++i) {
            const Region& region = regions_[i];
            if (region.huge != huge || region.length < length) continue;
            if (!huge && region.length != length) continue;
            if (best == count_ || region.length < regions_[best].length) best = i;
        }
        if (best == count_) return nullptr;
        Region& region = regions_[best];
        void* taken = region.at;
        bytes_.store(bytes_.load(std::memory_order_relaxed) - length, std::memory_order_relaxed);
        if (region.length == length) {
            region = regions_[--count_];
        } else {
            region.at = static_cast<char*>(region.at) + length;
            region.length -= length;
        }
        return taken;
    }

    // Keeps a region if the bound allows; false leaves it with the caller.
    bool keep(void* at, std::size_t length, bool huge) noexcept {
        const std::size_t bound = this->bound();
        if (length > bound) return false;
        // Marked before the lock is taken, so another thread's read never
        // waits on the system call.
#ifdef MADV_FREE
        madvise(at, length, MADV_FREE);
#endif
        const long now = monotonic_seconds();
        std::lock_guard hold(lock_);
        const std::size_t kept = bytes_.load(std::memory_order_relaxed);
        if (kept + length > bound || count_ == regions_.size()) return false;
        if (count_ == 0) oldest_.store(now, std::memory_order_relaxed);
        regions_[count_++] = Region{at, length, now, huge};
        bytes_.store(kept + length, std::memory_order_relaxed);
        return true;
    }

    // Unmaps the regions kept since before `cutoff`.
    void release_kept_before(long cutoff) noexcept {
        if (bytes_.load(std::memory_order_relaxed) == 0 ||
            oldest_.load(std::memory_order_relaxed) >= cutoff) {
            return;
        }
        std::array<Region, kMaxRegions> idle;
        std::size_t idle_count = 0;
        {
            std::lock_guard hold(lock_);
            long oldest = cutoff;
            std::size_t kept = bytes_.load(std::memory_order_relaxed);
            for (std::size_t i = 0; i < count_;) {
                if (regions_[i].kept_at < cutoff) {
                    kept -= regions_[i].length;
                    idle[idle_count++] = regions_[i];
                    regions_[i] = regions_[--count_];
                } else {
                    if (regions_[i].kept_at < oldest) oldest = regions_[i].kept_at;
                    ++i;
                }
            }
            bytes_.store(kept, std::memory_order_relaxed);
            oldest_.store(oldest, std::memory_order_relaxed);
            // What calls that ran at once kept has idled: count them afresh.
            if (idle_count > 0)
                peak_calls_.store(calls_.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
        }
        // Unmapped outside the lock: a read on another thread need not wait.
        for (std::size_t i = 0; i < idle_count; ++i) munmap(idle[i].at, idle[i].length);
    }

    std::size_t bytes() const noexcept { return bytes_.load(std::memory_order_relaxed); }

    void begin_call() noexcept {
        const std::size_t running = calls_.fetch_add(1, std::memory_order_relaxed) + 1;
        std::size_t peak = peak_calls_.load(std::memory_order_relaxed);
        while (peak < running &&
               !peak_calls_.compare_exchange_weak(peak, running, std::memory_order_relaxed)) {
        }
    }
    void end_call() noexcept { calls_.fetch_sub(1, std::memory_order_relaxed); }

    // Held across a fork, as the C library holds its heap's locks: a child
    // forked while another thread held it would otherwise never get it.
    void lock_for_fork() noexcept { lock_.lock(); }
    void unlock_after_fork() noexcept { lock_.unlock(); }
    // The calls other threads had running did not come into the child.
    void start_child() noexcept {
        calls_.store(0, std::memory_order_relaxed);
        peak_calls_.store(0, std::memory_order_relaxed);
        lock_.unlock();
    }

private:
    static constexpr std::size_t kMaxRegions = 256;

    struct Region {
        void* at;
        std::size_t length;
        long kept_at;  // monotonic seconds
        bool huge;
    };

    // The bound for each of the most calls that ran at once since kept
    // regions last idled: each finds its own working memory again.
    std::size_t bound() const noexcept {
        const std::size_t calls =
            std::max<std::size_t>(1, peak_calls_.load(std::memory_order_relaxed));
        return bound_ > SIZE_MAX / calls ? SIZE_MAX : bound_ * calls;
    }

    const std::size_t bound_ = bound_from_environment();
    std::atomic<std::size_t> calls_ = 0;
    std::atomic<std::size_t> peak_calls_ = 0;
    std::mutex lock_;
    std::array<Region, kMaxRegions> regions_{};
    std::size_t count_ = 0;
    // Read without the lock, to return early when nothing is kept or
    // nothing is idle yet; written only under it.
    std::atomic<std::size_t> bytes_ = 0;
    std::atomic<long> oldest_ = 0;
};

// Never destroyed: reads on other threads may still use it while the
// process exits.
RegionReserve& reserve() {
    static RegionReserve* const instance = new RegionReserve;
    return *instance;
}

[[maybe_unused]] const int fork_handlers =
    pthread_atfork([] { reserve().lock_for_fork(); }, [] { reserve().unlock_after_fork(); },
                   [] { reserve().start_child(); });

}  // namespace

void* allocate_large(std::size_t bytes) {
    const std::size_t length = whole_huge_pages(bytes);
    if (length < bytes) throw std::bad_alloc();
    if (void* kept = reserve().take(length, true)) return kept;
    return map_huge(length);
}

void release_large(void* at, std::size_t bytes) noexcept {
    const std::size_t length = whole_huge_pages(bytes);
    if (!reserve().keep(at, length, true)) munmap(at, length);
}

void* allocate_pages(std::size_t bytes, bool& freshly_mapped) {
    freshly_mapped = false;
    if (void* kept = reserve().take(bytes, false)) return kept;
    void* at = map_plain(bytes);
#ifdef MADV_NOHUGEPAGE
    madvise(at, bytes, MADV_NOHUGEPAGE);
#endif
    freshly_mapped = true;
    return at;
}

void* allocate_pages(std::size_t bytes) {
    bool freshly_mapped;
    return allocate_pages(bytes, freshly_mapped);
}

void release_pages(void* at, std::size_t bytes) noexcept {
    if (!reserve().keep(at, bytes, false)) munmap(at, bytes);
}

std::uint64_t physical_memory_bytes() noexcept {
    // Asked once: the system call behind it costs more than a small write.
    static const std::uint64_t bytes = []() -> std::uint64_t {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long page_size = ::sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || page_size <= 0) return UINT64_MAX;
        return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
    }();
    return bytes;
}

void prefault_for_writing([[maybe_unused]] void* begin, [[maybe_unused]] void* end) noexcept {
#ifdef MADV_POPULATE_WRITE
    const auto first =
        (reinterpret_cast<std::uintptr_t>(begin) + kPageBytes - 1) & ~(kPageBytes - 1);
    const auto last = reinterpret_cast<std::uintptr_t>(end) & ~(kPageBytes - 1);
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
}

void advise_huge_pages([[maybe_unused]] void* begin, [[maybe_unused]] void* end) noexcept {
#ifdef MADV_HUGEPAGE
    const auto first =
        (reinterpret_cast<std::uintptr_t>(begin) + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    const auto last = reinterpret_cast<std::uintptr_t>(end) & ~std::uintptr_t{kHugePage - 1};
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

void release_idle_regions(long now_seconds) noexcept {
    RegionReserve& kept = reserve();
    if (kept.bytes() == 0) return;
    if (now_seconds == kClockNow) now_seconds = monotonic_seconds();
    kept.release_kept_before(now_seconds - kIdleSeconds);
}

std::size_t kept_bytes() noexcept { return reserve().bytes(); }

ReserveCall::ReserveCall() noexcept {
    release_idle_regions();
    reserve().begin_call();
}

ReserveCall::~ReserveCall() { reserve().end_call(); }

}  // namespace quorvane::platform
