#include "platform/cpu.h"

#include <cstdint>

#if QUORVANE_X86_64
#include <cpuid.h>
#endif

namespace quorvane::platform {

#if QUORVANE_X86_64

namespace {

constexpr std::uint32_t kLeaf1EcxSse42 = 1u << 20;
constexpr std::uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr std::uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr std::uint32_t kLeaf7EbxAvx2 = 1u << 5;
// XCR0: the OS saves and restores both the XMM and the upper YMM state.
constexpr std::uint64_t kXcr0SseAndAvxState = 0b110;

std::uint64_t read_xcr0() noexcept {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

}  // namespace

CpuFeatures detect_cpu_features() noexcept {
    CpuFeatures found;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) == 0) return found;
    const unsigned max_leaf = eax;

    __cpuid(1, eax, ebx, ecx, edx);
    found.sse42 = (ecx & kLeaf1EcxSse42) != 0;
    const bool ymm_state_enabled = (ecx & kLeaf1EcxOsxsave) != 0 && (ecx & kLeaf1EcxAvx) != 0 &&
                                   (read_xcr0() & kXcr0SseAndAvxState) == kXcr0SseAndAvxState;
    if (max_leaf >= 7 && ymm_state_enabled) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        found.avx2 = (ebx & kLeaf7EbxAvx2) != 0;
    }
    return found;
}

#else

CpuFeatures detect_cpu_features() noexcept { return {}; }

#endif

}  // namespace quorvane::platform
