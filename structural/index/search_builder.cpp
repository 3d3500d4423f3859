// The default builder: walks the input with byte searches, answered from the
// masks of 64-byte windows near markup and by memchr across character data.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <string_view>

#include "platform/interrupt.h"
#include "structural/index/index_writer.h"
#include "structural/index/markup_scan.h"
#include "structural/index/structural.h"
#include "structural/simd/search_masks.h"

namespace quorvane::structural {
namespace {

using detail::find_byte;
using detail::has_bytes_at;
using detail::IndexWriter;
using detail::name_span;
using detail::scan_until;
using detail::ScanOutcome;

// The '>' of the first "-->" from `from`; the input length when there is none.
std::size_t comment_end(const std::uint8_t* s, std::size_t n, std::size_t from) noexcept {
    for (;;) {
        const std::size_t k = find_byte(s, from, n, '-');
        if (k == n) return n;
        if (k + 2 < n && s[k + 1] == '-' && s[k + 2] == '>') return k + 2;
        from = k + 1;
    }
}

struct CDataEnd {
    std::size_t end;
    std::size_t terminator;  // offset of "]]>", or npos when unterminated
};

// The '>' of the first "]]>" from `from`; when there is none, the offset at
// which the last search started.
CDataEnd cdata_end(const std::uint8_t* s, std::size_t n, std::size_t from) noexcept {
    for (;;) {
        const std::size_t k = find_byte(s, from, n, ']');
        if (k == n) return {from, std::string_view::npos};
        if (k + 2 < n && s[k + 1] == ']' && s[k + 2] == '>') return {k + 2, k};
        from = k + 1;
    }
}

// The searches of one 64-byte window of the input, answered from its masks.
// Markup is dense, so a window usually serves several entries, and one set
// of wide compares replaces a search per name, attribute and tag end.
class Window {
public:
    Window(const std::uint8_t* s, std::size_t n) noexcept
        : s_(s), n_(n), kernel_(search_masks_kernel()) {
        if (n_ != 0) load(0);
    }

    // First offset >= from whose bit is set in `Mask`; n when there is none.
    template <std::uint64_t SearchMasks::* Mask>
    std::size_t find(std::size_t from) noexcept {
        // The unsigned difference also sends offsets before the window here.
        if (from - base_ >= 64) {
            if (from >= n_) return n_;
            load(from);
        }
        for (;;) {
            const std::uint64_t hits = masks_.*Mask >> (from - base_);
            if (hits != 0) return from + static_cast<std::size_t>(std::countr_zero(hits));
            from = base_ + 64;
            if (from >= n_) return n_;
            load(from);
        }
    }

    // The next '<' from `from`: past this window, character data can run
    // long, which memchr crosses faster than windows; the window then moves
    // to the '<' found, where the entry's own searches begin.
    std::size_t find_lt(std::size_t from) noexcept {
        if (from - base_ < 64) {
            const std::uint64_t hits = masks_.lt >> (from - base_);
            if (hits != 0) return from + static_cast<std::size_t>(std::countr_zero(hits));
            from = base_ + 64;
        }
        if (from >= n_) return n_;
        const std::size_t w = find_byte(s_, from, n_, '<');
        if (w < n_) load(w);
        return w;
    }

private:
    // The last window of the input is read from a copy padded with zero
    // bytes, which match none of the masks.
    void load(std::size_t at) noexcept {
        base_ = at;
        if (n_ - at >= 64) {
            masks_ = kernel_(s_ + at);
            return;
        }
        std::uint8_t tail[64] = {};
        std::memcpy(tail, s_ + at, n_ - at);
        masks_ = kernel_(tail);
    }

    const std::uint8_t* s_;
    std::size_t n_;
    SearchMasksKernel kernel_;
    std::size_t base_ = 0;
    SearchMasks masks_{};
};

// Kept out of line so that the writer stays one object in memory rather
// than being taken apart into registers the loop would shuffle per entry.
[[gnu::noinline]] ScanOutcome scan(const std::uint8_t* s, std::size_t n, IndexWriter& out) {
    Window window(s, n);
    std::size_t p = 0;
    platform::PositionPoll poll;
    for (;;) {
        // An entry that ended at n leaves the scan position past the input.
        if (p > n) return ScanOutcome::past_end();
        if (poll.stop_requested(p)) return ScanOutcome::stopped();
        const std::size_t w = window.find_lt(p);
        if (w == n) break;
        out.text(p, w);
        if (w + 1 == n) return ScanOutcome::unclosed(w);

        std::size_t end = 0;
        switch (s[w + 1]) {
            case '!': {
                if (has_bytes_at(s, n, w, kCommentOpen)) {
                    end = comment_end(s, n, w + kCommentOpen.size());
                    out.leaf(w, end, TagKind::Comment, {});
                } else if (has_bytes_at(s, n, w, kCDataOpen)) {
                    const CDataEnd cdata = cdata_end(s, n, w + kCDataOpen.size());
                    if (cdata.terminator != std::string_view::npos) {
                        out.text(w + kCDataOpen.size(), cdata.terminator);
                    }
                    end = cdata.end;
                    out.leaf(w, end, TagKind::CData, {});
                } else {
                    // A declaration such as a document type: passed over, no entry.
                    const std::size_t g = find_byte(s, w, n, '>');
                    p = g < n ? g + 1 : w + 1;
                    continue;
                }
                break;
            }
            case '/': {
                const std::size_t name_end = window.find<&SearchMasks::close_name_end>(w + 2);
                // Most names end at the '>' itself.
                end = name_end < n && s[name_end] == '>' ? name_end
                                                         : window.find<&SearchMasks::gt>(name_end);
                if (end == n) return ScanOutcome::unclosed(w);
                out.close(w, end, name_span(w + 2, name_end));
                break;
            }
            case '?': {
                const std::size_t name_end =
                    scan_until<kMarkupSpace | kGreater | kQuestion>(s, w + 2, n, n);
                end = detail::processing_instruction_end(s, n, name_end);
                out.leaf(w, end, TagKind::ProcessingInstruction, name_span(w + 2, name_end));
                break;
            }
            default: {
                // The attribute walk: a quote jumps past its partner (an
                // unmatched one is stepped over with the byte after it), "/>"
                // closes an empty-element tag, '>' a start tag.
                const std::size_t name_end = window.find<&SearchMasks::open_name_end>(w + 1);
                std::size_t q = name_end;
                if (q < n && s[q] == '>') {
                    out.open(w, q, name_span(w + 1, name_end));
                    p = q + 1;
                    continue;
                }
                for (;;) {
                    q = window.find<&SearchMasks::attribute_stop>(q);
                    if (q >= n) return ScanOutcome::unclosed(w);
                    const std::uint8_t byte = s[q];
                    if (byte == '>') {
                        out.open(w, q, name_span(w + 1, name_end));
                        break;
                    }
                    if (byte == '/') {
                        if (q + 1 < n && s[q + 1] == '>') {
                            ++q;
                            out.leaf(w, q, TagKind::SelfClosing, name_span(w + 1, name_end));
                            break;
                        }
                        ++q;
                        continue;
                    }
                    const std::size_t partner =
                        byte == '"' ? window.find<&SearchMasks::double_quotes>(q + 1)
                                    : window.find<&SearchMasks::apostrophes>(q + 1);
                    q = partner < n ? partner + 1 : q + 2;
                }
                end = q;
                break;
            }
        }
        p = end + 1;
    }
    return ScanOutcome::done();
}

}  // namespace

IndexResult build_index_by_search(std::string_view source) {
    IndexWriter out(source);
    const ScanOutcome outcome =
        scan(reinterpret_cast<const std::uint8_t*>(source.data()), source.size(), out);
    return std::move(out).finish(outcome);
}

}  // namespace quorvane::structural
