// The default builder: walks the input with byte searches (memchr), which
// outrun any byte loop on markup of ordinary density.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

#include "structural/index/index_writer.h"
#include "structural/index/structural.h"

namespace quorvane::structural {
namespace {

using detail::find_byte;
using detail::has_bytes_at;
using detail::IndexWriter;
using detail::name_span;
using detail::ScanOutcome;
using detail::scan_until;

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

struct StartTagEnd {
    std::size_t end;  // n when the tag never closes
    TagKind kind;
};

// Walks attributes: a quote jumps past its partner, "/>" closes an
// empty-element tag, '>' a start tag.
StartTagEnd start_tag_end(const std::uint8_t* s, std::size_t n, std::size_t q) noexcept {
    for (;;) {
        q = detail::find_any<'"', '\'', '/', '>'>(s, q, n);
        if (q >= n) return {n, TagKind::Open};
        const std::uint8_t byte = s[q];
        if (byte == '>') return {q, TagKind::Open};
        if (byte == '/') {
            if (q + 1 < n && s[q + 1] == '>') return {q + 1, TagKind::SelfClosing};
            ++q;
            continue;
        }
        const std::size_t partner = find_byte(s, q + 1, n, byte);
        // An unmatched quote is stepped over with the byte after it.
        q = partner < n ? partner + 1 : q + 2;
    }
}

// Kept out of line so that the writer stays one object in memory rather
// than being taken apart into registers the loop would shuffle per entry.
[[gnu::noinline]] ScanOutcome scan(const std::uint8_t* s, std::size_t n,
                                   IndexWriter& out) noexcept {
    std::size_t p = 0;
    for (;;) {
        // An entry that ended at n leaves the scan position past the input.
        if (p > n) return ScanOutcome::past_end();
        const std::size_t w = find_byte(s, p, n, '<');
        if (w == n) break;
        out.text(p, w);
        if (w + 1 == n) return ScanOutcome::unclosed(w);

        std::size_t end = 0;
        switch (s[w + 1]) {
            case '!': {
                if (has_bytes_at(s, n, w, detail::kCommentOpen)) {
                    end = comment_end(s, n, w + 4);
                    out.entry(w, end, TagKind::Comment, {});
                } else if (has_bytes_at(s, n, w, detail::kCDataOpen)) {
                    const CDataEnd cdata = cdata_end(s, n, w + 9);
                    if (cdata.terminator != std::string_view::npos) {
                        out.text(w + 9, cdata.terminator);
                    }
                    end = cdata.end;
                    out.entry(w, end, TagKind::CData, {});
                } else {
                    // A declaration such as a document type: passed over, no entry.
                    const std::size_t g = find_byte(s, w, n, '>');
                    p = g < n ? g + 1 : w + 1;
                    continue;
                }
                break;
            }
            case '/': {
                const std::size_t name_end =
                    scan_until<detail::kWhitespace | detail::kGreater>(s, w + 2, n, n);
                end = find_byte(s, name_end, n, '>');
                if (end == n) return ScanOutcome::unclosed(w);
                out.entry(w, end, TagKind::Close, name_span(w + 2, name_end));
                break;
            }
            case '?': {
                const std::size_t name_end =
                    scan_until<detail::kWhitespace | detail::kGreater | detail::kQuestion>(
                        s, w + 2, n, n);
                end = detail::processing_instruction_end(s, n, name_end);
                out.entry(w, end, TagKind::ProcessingInstruction, name_span(w + 2, name_end));
                break;
            }
            default: {
                const std::size_t name_end =
                    scan_until<detail::kWhitespace | detail::kSlash | detail::kGreater>(
                        s, w + 1, n, n);
                const StartTagEnd tag = start_tag_end(s, n, name_end);
                if (tag.end == n) return ScanOutcome::unclosed(w);
                end = tag.end;
                out.entry(w, end, tag.kind, name_span(w + 1, name_end));
                break;
            }
        }
        p = end + 1;
    }
    return ScanOutcome::done();
}

}  // namespace

IndexResult build_index_by_search(std::string_view source) noexcept {
    IndexWriter out(source);
    const ScanOutcome outcome =
        scan(reinterpret_cast<const std::uint8_t*>(source.data()), source.size(), out);
    return std::move(out).finish(outcome);
}

}  // namespace quorvane::structural
