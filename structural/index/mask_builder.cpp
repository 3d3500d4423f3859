// The builder for quote-dense documents: '<' and '>' come from the
// classification masks, so quoted attribute values cost no byte walking.
#include "structural/index/mask_builder.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>
#include <vector>

#include "platform/interrupt.h"
#include "structural/index/index_writer.h"
#include "structural/index/markup_scan.h"
#include "structural/index/structural.h"
#include "structural/simd/classify.h"

namespace quorvane::structural {
namespace detail {
namespace {

constexpr std::size_t kNoBit = SIZE_MAX;

// Offset of the first set bit at or after `from`, or kNoBit.
std::size_t next_set_bit(const std::vector<std::uint64_t>& words, std::size_t from) noexcept {
    std::size_t word = from / 64;
    if (word >= words.size()) return kNoBit;
    std::uint64_t bits = words[word] & (~0ull << (from % 64));
    while (bits == 0) {
        if (++word == words.size()) return kNoBit;
        bits = words[word];
    }
    return word * 64 + std::countr_zero(bits);
}

// The '>' of the first `terminator` (a delimiter ending in '>') tested from
// `from`; n - 2 when there is none.
std::size_t terminated_at(const std::uint8_t* s, std::size_t n, std::size_t from,
                          std::string_view terminator, std::size_t& terminator_start) noexcept {
    for (std::size_t k = from; k + terminator.size() <= n;
         k = find_byte(s, k + 1, n, terminator[0])) {
        if (has_bytes_at(s, n, k, terminator)) {
            terminator_start = k;
            return k + terminator.size() - 1;
        }
    }
    terminator_start = std::string_view::npos;
    return n - 2;
}

// The end of the comment or CDATA section that opens at w: where its closing
// delimiter ends, or just past the opening one when the input has no room
// for both.
std::size_t delimited_end(const std::uint8_t* s, std::size_t n, std::size_t w,
                          std::string_view open, std::string_view close,
                          std::size_t& terminator_start) noexcept {
    const std::size_t body = w + open.size();
    if (n - w < open.size() + close.size()) return body;
    return terminated_at(s, n, body, close, terminator_start);
}

// Kept out of line so that the writer stays one object in memory rather
// than being taken apart into registers the loop would shuffle per entry.
[[gnu::noinline]] ScanOutcome scan(const std::uint8_t* s, std::size_t n, MaskBuildTrace& trace,
                                   IndexWriter& out) {
    const std::vector<std::uint64_t>& lt_bits = trace.masks.lt_bits;
    const std::vector<std::uint64_t>& gt_bits = trace.masks.gt_bits;
    std::size_t p = 0;
    platform::PositionPoll poll;
    for (std::size_t w = next_set_bit(lt_bits, 0); w != kNoBit; w = next_set_bit(lt_bits, p)) {
        if (poll.stop_requested(w)) return ScanOutcome::stopped();
        out.text(p, w);
        if (w + 1 == n) {
            trace.ignored_final_lt = true;
            break;
        }
        // The first '>' after w: as the '<' ascend, so do these, which makes
        // the scan from w + 1 the forward-only cursor over the '>' offsets.
        const std::size_t g = next_set_bit(gt_bits, w + 1);
        if (g == kNoBit) return ScanOutcome::unclosed(w);

        std::size_t end = g;
        switch (s[w + 1]) {
            case '!': {
                std::size_t terminator = std::string_view::npos;
                if (has_bytes_at(s, n, w, kCommentOpen)) {
                    end = delimited_end(s, n, w, kCommentOpen, kCommentClose, terminator);
                    out.entry(w, end, TagKind::Comment, {});
                } else if (has_bytes_at(s, n, w, kCDataOpen)) {
                    end = delimited_end(s, n, w, kCDataOpen, kCDataClose, terminator);
                    if (terminator != std::string_view::npos) {
                        out.text(w + kCDataOpen.size(), terminator);
                    }
                    out.entry(w, end, TagKind::CData, {});
                } else {
                    trace.passed_over_starts.push_back(w);
                    trace.passed_over_ends.push_back(g);
                    p = g + 1;
                    continue;
                }
                break;
            }
            case '/': {
                const std::size_t name_end = scan_until<kMarkupSpace>(s, w + 2, g, n);
                out.entry(w, g, TagKind::Close, name_span(w + 2, name_end));
                break;
            }
            case '?': {
                const std::size_t name_end =
                    scan_until<kMarkupSpace | kGreater | kQuestion>(s, w + 2, n, n);
                end = processing_instruction_end(s, n, name_end);
                out.entry(w, end, TagKind::ProcessingInstruction, name_span(w + 2, name_end));
                break;
            }
            default: {
                const std::size_t name_end =
                    scan_until<kMarkupSpace | kSlash | kGreater>(s, w + 1, g, n);
                const TagKind kind = s[g - 1] == '/' ? TagKind::SelfClosing : TagKind::Open;
                out.entry(w, g, kind, name_span(w + 1, name_end));
                break;
            }
        }
        // No '>' needs skipping past a comment, CDATA section or processing
        // instruction: the next '<' lies beyond `end`, and its '>' is sought
        // after it.
        p = end + 1;
    }
    return ScanOutcome::done();
}

}  // namespace

IndexResult build_index_by_masks_traced(std::string_view source, MaskBuildTrace& trace) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(source.data());
    trace.masks = classify_bytes(s, source.size());
    IndexWriter out(source);
    const ScanOutcome outcome = scan(s, source.size(), trace, out);
    return std::move(out).finish(outcome);
}

}  // namespace detail

IndexResult build_index_by_masks(std::string_view source) {
    detail::MaskBuildTrace trace;
    return detail::build_index_by_masks_traced(source, trace);
}

}  // namespace quorvane::structural
