#include "structural/index/large_pages.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace quorvane::structural {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t whole_huge_pages(std::size_t bytes) {
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

void* allocate_large(std::size_t bytes) {
    const std::size_t length = whole_huge_pages(bytes);
    if (length < bytes) throw std::bad_alloc();
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

void release_large(void* at, std::size_t bytes) noexcept { munmap(at, whole_huge_pages(bytes)); }

}  // namespace quorvane::structural
