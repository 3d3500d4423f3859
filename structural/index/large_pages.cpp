#include "structural/index/large_pages.h"

#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <new>

namespace quorvane::structural {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t whole_huge_pages(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void* map_fresh(std::size_t length) {
    // One huge page more than needed, so the kept part can start on a
    // huge-page boundary; the ends beyond it are returned at once.
    void* mapped = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
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

// Regions released by one read, kept for the next. A page the system has
// to hand out afresh is zeroed and mapped first, which costs more than the
// work a read does on it; so the regions stay mapped, up to a bound, and
// are marked free so that the system may still take them under pressure.
class RegionReserve {
public:
    // A kept region of at least `length` bytes, cut to `length` (the rest
    // stays kept); null if none is long enough.
    void* take(std::size_t length) noexcept {
        std::lock_guard hold(lock_);
        std::size_t best = count_;
        for (std::size_t i = 0; i < count_; ++i) {
            if (regions_[i].length >= length &&
                (best == count_ || regions_[i].length < regions_[best].length)) {
                best = i;
            }
        }
        if (best == count_) return nullptr;
        Region& region = regions_[best];
        void* taken = region.at;
        bytes_ -= length;
        if (region.length == length) {
            region = regions_[--count_];
        } else {
            region.at = static_cast<char*>(region.at) + length;
            region.length -= length;
        }
        return taken;
    }

    // Keeps a region if the bound allows; false leaves it with the caller.
    bool keep(void* at, std::size_t length) noexcept {
        // Marked before the lock is taken, so another thread's read never
        // waits on the system call.
#ifdef MADV_FREE
        madvise(at, length, MADV_FREE);
#endif
        std::lock_guard hold(lock_);
        if (bytes_ + length > kReserveBytes || count_ == regions_.size()) return false;
        regions_[count_++] = Region{at, length};
        bytes_ += length;
        return true;
    }

    // Held across a fork, as the C library holds its heap's locks: a child
    // forked while another thread held it would otherwise never get it.
    void lock_for_fork() noexcept { lock_.lock(); }
    void unlock_after_fork() noexcept { lock_.unlock(); }

private:
    // About what two concurrent reads of 20 MB of record-like markup use.
    static constexpr std::size_t kReserveBytes = std::size_t{256} << 20;

    struct Region {
        void* at;
        std::size_t length;
    };

    std::mutex lock_;
    // Every region is at least one huge page long, so this many always suffice.
    std::array<Region, kReserveBytes / kHugePage> regions_{};
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
};

// Trivially destructible: reads on other threads may still use it while
// the process exits.
constinit RegionReserve reserve;

[[maybe_unused]] const int fork_handlers =
    pthread_atfork([] { reserve.lock_for_fork(); }, [] { reserve.unlock_after_fork(); },
                   [] { reserve.unlock_after_fork(); });

}  // namespace

void* allocate_large(std::size_t bytes) {
    const std::size_t length = whole_huge_pages(bytes);
    if (length < bytes) throw std::bad_alloc();
    if (void* kept = reserve.take(length)) return kept;
    return map_fresh(length);
}

void release_large(void* at, std::size_t bytes) noexcept {
    const std::size_t length = whole_huge_pages(bytes);
    if (!reserve.keep(at, length)) munmap(at, length);
}

}  // namespace quorvane::structural
