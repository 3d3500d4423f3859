// The builder choice, and the check that keeps the mask builder from
// silently losing markup.
#include "structural/index/structural.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/memory.h"
#include "structural/index/mask_builder.h"
#include "structural/simd/classify.h"

namespace quorvane::structural {

// A column of a large document is mapped on its own, in huge pages: it
// spans tens of megabytes, faulting it in 4 KiB at a time costs more than
// writing it, and the reserve keeps it for the next read.
void* allocate_column(std::size_t bytes) {
    if (bytes >= platform::kLargeAllocationBytes) return platform::allocate_large(bytes);
    return ::operator new(bytes);
}

void release_column(void* at, std::size_t bytes) noexcept {
    if (bytes >= platform::kLargeAllocationBytes) {
        platform::release_large(at, bytes);
    } else {
        ::operator delete(at);
    }
}
namespace {

constexpr std::size_t kSampleBytes = 4096;
constexpr double kMaskBuilderQuoteRatio = 5.0;

// Index of the first range in [starts, ends] (ascending, disjoint) whose end
// is at or after `offset`, searched from `from`; ranges only ever move
// forward because the offsets asked about ascend.
std::size_t advance_to(std::span<const std::uint64_t> ends, std::size_t from,
                       std::uint64_t offset) noexcept {
    return static_cast<std::size_t>(
        std::lower_bound(ends.begin() + static_cast<std::ptrdiff_t>(from), ends.end(), offset) -
        ends.begin());
}

// The masks follow quotes across the whole document, so a quote in
// character data hides the markup after it. Every '<' the masks left visible
// was either indexed or lies inside an entry; so the index can be trusted iff
// every hidden '<' lies inside an indexed entry or a passed-over declaration.
bool covers_every_lt(std::string_view source, const StructuralIndex& index,
                     const detail::MaskBuildTrace& trace) noexcept {
    if (trace.ignored_final_lt) return false;
    const auto* s = reinterpret_cast<const std::uint8_t*>(source.data());
    const std::size_t n = source.size();
    std::size_t entry = 0;
    std::size_t passed = 0;
    for (std::size_t hidden = find_unmarked(s, n, '<', trace.masks.lt_bits, 0); hidden < n;) {
        entry = advance_to(index.tag_ends, entry, hidden);
        passed = advance_to(trace.passed_over_ends, passed, hidden);
        std::uint64_t covered_to = 0;
        if (entry < index.entry_count() && index.tag_starts[entry] <= hidden) {
            covered_to = index.tag_ends[entry];
        } else if (passed < trace.passed_over_starts.size() &&
                   trace.passed_over_starts[passed] <= hidden) {
            covered_to = trace.passed_over_ends[passed];
        } else {
            return false;
        }
        // Further hidden '<' of the same entry need no lookup.
        hidden = find_unmarked(s, n, '<', trace.masks.lt_bits, covered_to + 1);
    }
    return true;
}

}  // namespace

bool prefers_mask_builder(std::string_view source) noexcept {
    const auto* s = reinterpret_cast<const std::uint8_t*>(source.data());
    const std::size_t sample = std::min(source.size(), kSampleBytes);
    const std::size_t lts = count_byte(s, sample, '<');
    const std::size_t double_quotes = count_byte(s, sample, '"');
    return static_cast<double>(double_quotes) / static_cast<double>(std::max<std::size_t>(lts, 1)) >
           kMaskBuilderQuoteRatio;
}

ChosenIndex build_index_with_choice(std::string_view source) {
    if (!prefers_mask_builder(source)) return {build_index_by_search(source), IndexBuilder::Search};
    detail::MaskBuildTrace trace;
    IndexResult by_masks = detail::build_index_by_masks_traced(source, trace);
    if (by_masks.has_value() && covers_every_lt(source, *by_masks, trace)) {
        return {std::move(by_masks), IndexBuilder::Masks};
    }
    if (!by_masks && by_masks.error().kind == NativeFailure::Kind::Stopped) {
        return {std::move(by_masks), IndexBuilder::Masks};
    }
    return {build_index_by_search(source), IndexBuilder::SearchAfterMasks};
}

IndexResult build_index(std::string_view source) {
    return std::move(build_index_with_choice(source).result);
}

}  // namespace quorvane::structural
