// Processor features: the bits read by hand agree with the compiler's own
// detection, which reads them independently.
#include "platform/cpu.h"

#include <gtest/gtest.h>

namespace quorvane::platform {
namespace {

TEST(CpuFeatures, AgreeWithTheCompilersDetection) {
    const CpuFeatures found = detect_cpu_features();
#if QUORVANE_X86_64
    __builtin_cpu_init();
    EXPECT_EQ(found.sse42, __builtin_cpu_supports("sse4.2") != 0);
    EXPECT_EQ(found.avx2, __builtin_cpu_supports("avx2") != 0);
#else
    EXPECT_FALSE(found.sse42 || found.avx2) << "no x86-64 kernel is built here";
#endif
}

}  // namespace
}  // namespace quorvane::platform
