#include "read/start_tag.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "read/references.h"

namespace quorvane::read {

namespace {

enum : std::uint8_t {
    kSpace = 1,     // 0x09 0x0A 0x0C 0x0D 0x20; not 0x0B
    kNameStop = 2,  // ends an attribute name: white space, quotes, '='
    kDouble = 4,    // '"'
    kSingle = 8,    // '\''
    kLess = 16,     // '<'
    kRewrite = 32,  // what decoding a value rewrites: '&', tab, line feed, carriage return
};

constexpr std::array<std::uint8_t, 256> kClasses = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned char c : {0x09, 0x0A, 0x0C, 0x0D, 0x20}) table[c] = kSpace | kNameStop;
    table['"'] = kNameStop | kDouble;
    table['\''] = kNameStop | kSingle;
    table['='] = kNameStop;
    table['<'] = kLess;
    for (unsigned char c : {'&', '\t', '\n', '\r'}) table[c] |= kRewrite;
    return table;
}();

bool is(char c, std::uint8_t cls) { return (kClasses[static_cast<unsigned char>(c)] & cls) != 0; }

std::uint64_t skip_space(std::string_view text, std::uint64_t p, std::uint64_t end) {
    while (p < end && is(text[p], kSpace)) ++p;
    return p;
}

std::string quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

// At least the number of attributes from `p` on: each has one '=' outside
// its value. Sizing the map by it up front makes it in one allocation.
std::size_t attribute_bound(std::string_view text, std::uint64_t p, std::uint64_t end) {
    std::size_t count = 0;
    const char* at = text.data() + p;
    const char* const stop = text.data() + end;
    while (const void* hit = std::memchr(at, '=', static_cast<std::size_t>(stop - at))) {
        ++count;
        at = static_cast<const char*>(hit) + 1;
    }
    return count;
}

}  // namespace

std::expected<TagName, ReadError> element_name(const structural::StructuralIndex& index,
                                               std::size_t i) {
    const structural::NameSpan name = index.tag_names[i];
    const std::uint64_t start = index.tag_starts[i];
    if (name.len == 0) {
        return std::unexpected(ReadError::malformed("expected element name after '<'", start));
    }
    const std::uint64_t end = index.tag_ends[i];
    const bool empty_element = index.tag_kind(i) == structural::TagKind::SelfClosing;
    return TagName{name.start, name.len, start + 1 + name.len, empty_element ? end - 1 : end};
}

std::expected<void, ReadError> parse_start_tag(SpanCredit& spans,
                                               const structural::StructuralIndex& index,
                                               std::size_t i, AttributeTables& tables,
                                               ParsedElement& element) {
    auto tag = element_name(index, i);
    if (!tag) return std::unexpected(std::move(tag.error()));
    element.name = spans.span(tag->start, tag->start + tag->length);
    const std::string_view text = index.source;
    const std::uint64_t end = tag->region_end;
    std::uint64_t p = tag->region_start;
    std::uint64_t prev = p;
    for (;;) {
        p = skip_space(text, p, end);
        if (p >= end) return {};
        if (p == prev) {
            return std::unexpected(ReadError::malformed("expected whitespace before attribute", p));
        }
        const std::uint64_t name_start = p;
        while (p < end && !is(text[p], kNameStop)) ++p;
        if (p == name_start) {
            return std::unexpected(ReadError::malformed("expected attribute name", p));
        }
        const std::string_view name = text.substr(name_start, p - name_start);
        p = skip_space(text, p, end);
        if (p == end || text[p] != '=') {
            return std::unexpected(
                ReadError::malformed("attribute " + quoted(name) + " has no value", name_start));
        }
        p = skip_space(text, p + 1, end);
        if (p == end || (text[p] != '"' && text[p] != '\'')) {
            return std::unexpected(
                ReadError::malformed("value of attribute " + quoted(name) + " is not quoted", p));
        }
        const char quote = text[p];
        const std::uint64_t value_start = p + 1;
        // One pass finds the closing quote and tells whether the value holds
        // a '<' or anything that decoding would rewrite; most values need
        // neither, and then no further look at their bytes.
        const std::uint8_t closing = quote == '"' ? kDouble : kSingle;
        std::uint8_t stops = closing | kLess | kRewrite;
        bool rewrite = false;
        std::uint64_t q = value_start;
        for (; q < end; ++q) {
            const std::uint8_t cls = kClasses[static_cast<unsigned char>(text[q])] & stops;
            if (cls == 0) continue;
            if (cls & closing) break;
            if (cls & kLess) {
                // An unterminated value is reported before the '<' in it.
                if (!std::memchr(text.data() + q, quote, end - q)) {
                    q = end;
                    break;
                }
                return std::unexpected(
                    ReadError::malformed("'<' is not allowed in attribute values", q));
            }
            rewrite = true;
            stops = closing | kLess;
        }
        if (q >= end) {
            return std::unexpected(
                ReadError::malformed("unterminated attribute value", value_start));
        }
        const std::uint64_t value_end = q;
        // Made in place when it is a span, the common case.
        NodeString stored = rewrite ? NodeString() : spans.span(value_start, value_end);
        if (rewrite) {
            auto decoded =
                decode_text(text.substr(value_start, value_end - value_start), value_start, true);
            if (!decoded) return std::unexpected(std::move(decoded.error()));
            stored = std::move(*decoded->rewritten).into_string();
        }
        if (element.attrs.empty())
            element.attrs =
                AttributeMap(tables.key(), attribute_bound(text, name_start, end), tables.arena());
        NodeString stored_name = spans.span(name_start, name_start + name.size());
        if (!element.attrs.insert_new(name, tables.hash_of(name), std::move(stored_name),
                                      std::move(stored))) {
            return std::unexpected(
                ReadError::malformed("duplicate attribute " + quoted(name), name_start));
        }
        p = prev = value_end + 1;
    }
}

}  // namespace quorvane::read
