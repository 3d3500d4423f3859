// The registry of kernel implementations, one set per instruction set, so
// that dispatch picks all of a processor's routines together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "structural/simd/classify.h"
#include "structural/simd/search_masks.h"

namespace quorvane::structural {

struct KernelSet {
    Kernel kernel;
    ClassMasks (*classify)(const std::uint8_t* input, std::size_t len);
    std::size_t (*count_byte)(const std::uint8_t* input, std::size_t len,
                              std::uint8_t byte) noexcept;
    std::size_t (*find_unmarked)(const std::uint8_t* input, std::size_t len, std::uint8_t byte,
                                 std::span<const std::uint64_t> marked, std::size_t from) noexcept;
    SearchMasksKernel search_masks;
    AttributeMasksKernel attribute_masks;
    bool (*is_valid_utf8)(const std::uint8_t* input, std::size_t len) noexcept;
};

// Defined in the kernel's own translation unit; the vector sets are built
// on x86-64 only (QUORVANE_X86_64) and used where the processor has them.
extern const KernelSet kScalarKernels;
extern const KernelSet kSse42Kernels;
extern const KernelSet kAvx2Kernels;

}  // namespace quorvane::structural
