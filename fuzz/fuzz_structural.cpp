// Arbitrary bytes through every kernel and every builder: the kernels must
// agree bit for bit (and on whether the bytes are UTF-8), and each builder
// must fail cleanly or return an index that stays inside the input and
// keeps its arrays in step.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/cpu.h"
#include "structural/index/structural.h"
#include "structural/simd/classify.h"
#include "structural/simd/kernel_set.h"
#include "structural/simd/search_masks.h"
#include "structural/simd/utf8.h"

namespace {

namespace qs = quorvane::structural;

void require(bool holds) {
    if (!holds) std::abort();
}

void check_kernels(const std::uint8_t* data, std::size_t size) {
    const qs::ClassMasks scalar = qs::classify_scalar(data, size);
    require(scalar.len == size && scalar.lt_bits.size() == (size + 63) / 64);
    [[maybe_unused]] const bool utf8 = qs::is_valid_utf8_scalar(data, size);
#if QUORVANE_X86_64
    if (qs::cpu_has_sse42()) {
        const qs::ClassMasks sse42 = qs::classify_sse42(data, size);
        require(sse42.lt_bits == scalar.lt_bits && sse42.gt_bits == scalar.gt_bits);
        require(qs::is_valid_utf8_sse42(data, size) == utf8);
    }
    if (qs::cpu_has_avx2()) {
        const qs::ClassMasks avx2 = qs::classify_avx2(data, size);
        require(avx2.lt_bits == scalar.lt_bits && avx2.gt_bits == scalar.gt_bits);
        require(qs::is_valid_utf8_avx2(data, size) == utf8);
    }
#endif
}

bool same_attribute_masks(const qs::AttributeMasks& a, const qs::AttributeMasks& b) {
    return a.whitespace == b.whitespace && a.equals == b.equals &&
           a.double_quotes == b.double_quotes && a.apostrophes == b.apostrophes &&
           a.value_stop == b.value_stop;
}

bool same_masks(const qs::SearchMasks& a, const qs::SearchMasks& b) {
    return a.lt == b.lt && a.gt == b.gt && a.double_quotes == b.double_quotes &&
           a.apostrophes == b.apostrophes && a.open_name_end == b.open_name_end &&
           a.close_name_end == b.close_name_end && a.attribute_stop == b.attribute_stop;
}

// The window masks of the search builder and of the attribute walk, for
// every whole window of the input.
void check_search_masks(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at + 64 <= size; at += 64) {
        const qs::SearchMasks scalar = qs::kScalarKernels.search_masks(data + at);
        const qs::AttributeMasks attributes = qs::kScalarKernels.attribute_masks(data + at);
#if QUORVANE_X86_64
        if (qs::cpu_has_sse42()) {
            require(same_masks(qs::kSse42Kernels.search_masks(data + at), scalar));
            require(same_attribute_masks(qs::kSse42Kernels.attribute_masks(data + at), attributes));
        }
        if (qs::cpu_has_avx2()) {
            require(same_masks(qs::kAvx2Kernels.search_masks(data + at), scalar));
            require(same_attribute_masks(qs::kAvx2Kernels.attribute_masks(data + at), attributes));
        }
#endif
    }
}

// Entry starts are '<' bytes in ascending order; ends lie at or after their
// start and at most at the input length (an unterminated construct's
// fallback end); names and text ranges lie inside the input.
void check_index(const qs::IndexResult& result, std::string_view source) {
    if (!result) return;
    const qs::StructuralIndex& index = *result;
    const std::size_t n = source.size();
    const std::size_t count = index.entry_count();
    require(index.source.data() == source.data() && index.source.size() == n);
    require(index.tag_ends.size() == count && index.tag_kinds.size() == count &&
            index.tag_names.size() == count && index.tag_depths.size() == count &&
            index.tag_parents.size() == count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t start = index.tag_starts[i];
        require(start < n && source[start] == '<');
        require(i == 0 || start > index.tag_ends[i - 1]);
        require(index.tag_ends[i] >= start && index.tag_ends[i] <= n);
        const qs::NameSpan name = index.tag_names[i];
        require(name.start <= n && name.len <= n - name.start);
        require(index.tag_parents[i] >= -1 && index.tag_parents[i] < static_cast<std::int32_t>(i));
        if (index.tag_parents[i] >= 0) {
            require(index.tag_kinds[static_cast<std::size_t>(index.tag_parents[i])] ==
                    qs::TagKind::Open);
        }
    }
    for (const qs::TextRange& range : index.text_ranges) {
        require(range.start < range.end && range.end <= n);
        require(range.parent >= -1 && range.parent < static_cast<std::int32_t>(count));
    }
}

// What the reader relies on to skip a look for markup in character data:
// outside the entries (a CDATA section's content lies inside its entry), no
// text range of the chosen index holds a '<'.
void check_text_holds_no_lt(const qs::IndexResult& result) {
    if (!result) return;
    const qs::StructuralIndex& index = *result;
    std::size_t entry = 0;
    for (const qs::TextRange& range : index.text_ranges) {
        while (entry < index.entry_count() && index.tag_ends[entry] < range.start) ++entry;
        const bool inside_entry =
            entry < index.entry_count() && index.tag_starts[entry] < range.start;
        if (inside_entry) continue;
        require(index.text_of(range).find('<') == std::string_view::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_kernels(data, size);
    check_search_masks(data, size);
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    check_index(qs::build_index_by_search(source), source);
    check_index(qs::build_index_by_masks(source), source);
    const qs::IndexResult chosen = qs::build_index(source);
    check_index(chosen, source);
    check_text_holds_no_lt(chosen);
    return 0;
}
