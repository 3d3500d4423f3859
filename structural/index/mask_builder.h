// The mask builder with a record of what it saw, so that build_index can
// check its view of the markup before trusting it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "structural/index/structural.h"
#include "structural/simd/classify.h"

namespace quorvane::structural::detail {

struct MaskBuildTrace {
    ClassMasks masks;
    // [start, end] of each '<!' declaration passed over without an entry.
    std::vector<std::uint64_t> passed_over_starts;
    std::vector<std::uint64_t> passed_over_ends;
    // The scan stopped at a '<' on the last byte and ignored it.
    bool ignored_final_lt = false;
};

IndexResult build_index_by_masks_traced(std::string_view source, MaskBuildTrace& trace);

}  // namespace quorvane::structural::detail
