// What the processor offers the byte-classification kernels. Only x86-64
// has vector kernels of its own; elsewhere the portable kernel serves.
#pragma once

// Whether the x86-64 kernels are built: the build adds their translation
// units on that processor only.
#if defined(__x86_64__)
#define QUORVANE_X86_64 1
#else
#define QUORVANE_X86_64 0
#endif

namespace quorvane::platform {

// Instruction sets that the processor has and the system saves the
// registers of; all false where no x86-64 kernel is built.
struct CpuFeatures {
    bool sse42 = false;
    bool avx2 = false;
};

// Asks the processor each time; callers keep the answer.
CpuFeatures detect_cpu_features() noexcept;

}  // namespace quorvane::platform
