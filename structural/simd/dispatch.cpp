// The once-per-process kernel choice.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/cpu.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"
#include "structural/simd/search_masks.h"
#include "structural/simd/utf8.h"

namespace quorvane::structural {
namespace {

// The cache word: zero until detection ran; then the detected flags plus the
// chosen kernel. Detection is idempotent, so racing first calls agree.
constexpr std::uint32_t kDetected = 1u << 0;
constexpr std::uint32_t kHasSse42 = 1u << 1;
constexpr std::uint32_t kHasAvx2 = 1u << 2;
constexpr unsigned kKernelShift = 4;

std::atomic<std::uint32_t> g_features{0};

std::uint32_t detect_features() noexcept {
    const platform::CpuFeatures found = platform::detect_cpu_features();
    std::uint32_t flags = kDetected;
    if (found.sse42) flags |= kHasSse42;
    if (found.avx2) flags |= kHasAvx2;
    return flags;
}

Kernel best_supported(std::uint32_t flags) noexcept {
    if ((flags & kHasAvx2) != 0) return Kernel::Avx2;
    if ((flags & kHasSse42) != 0) return Kernel::Sse42;
    return Kernel::Scalar;
}

// QUORVANE_KERNEL can only lower the choice; unknown values are ignored.
Kernel narrowed_by_environment(Kernel best) noexcept {
    const char* requested = std::getenv("QUORVANE_KERNEL");
    if (requested == nullptr) return best;
    const std::string_view name{requested};
    Kernel wanted = best;
    if (name == "scalar")
        wanted = Kernel::Scalar;
    else if (name == "sse42")
        wanted = Kernel::Sse42;
    else if (name == "avx2")
        wanted = Kernel::Avx2;
    return static_cast<std::uint8_t>(wanted) < static_cast<std::uint8_t>(best) ? wanted : best;
}

std::uint32_t features() noexcept {
    std::uint32_t cached = g_features.load(std::memory_order_relaxed);
    if (cached == 0) {
        cached = detect_features();
        const Kernel chosen = narrowed_by_environment(best_supported(cached));
        cached |= std::uint32_t{static_cast<std::uint8_t>(chosen)} << kKernelShift;
        g_features.store(cached, std::memory_order_relaxed);
    }
    return cached;
}

const KernelSet& active_set() noexcept {
#if QUORVANE_X86_64
    switch (active_kernel()) {
        case Kernel::Avx2:
            return kAvx2Kernels;
        case Kernel::Sse42:
            return kSse42Kernels;
        case Kernel::Scalar:
            break;
    }
#endif
    return kScalarKernels;
}

}  // namespace

Kernel active_kernel() noexcept { return static_cast<Kernel>((features() >> kKernelShift) & 0x3u); }

bool cpu_has_sse42() noexcept { return (features() & kHasSse42) != 0; }
bool cpu_has_avx2() noexcept { return (features() & kHasAvx2) != 0; }

ClassMasks classify_bytes(const std::uint8_t* input, std::size_t len) {
    return active_set().classify(input, len);
}

SearchMasksKernel search_masks_kernel() noexcept { return active_set().search_masks; }

AttributeMasksKernel attribute_masks_kernel() noexcept { return active_set().attribute_masks; }

bool is_valid_utf8(const std::uint8_t* input, std::size_t len) noexcept {
    return active_set().is_valid_utf8(input, len);
}

std::size_t count_byte(const std::uint8_t* input, std::size_t len, std::uint8_t byte) noexcept {
    return active_set().count_byte(input, len, byte);
}

std::size_t find_unmarked(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                          std::span<const std::uint64_t> marked, std::size_t from) noexcept {
    return active_set().find_unmarked(input, len, byte, marked, from);
}

}  // namespace quorvane::structural
