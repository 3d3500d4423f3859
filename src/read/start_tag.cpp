#include "src/read/start_tag.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "src/read/references.h"
#include "src/storage/quoted.h"
#include "structural/markup_bytes.h"
#include "structural/simd/search_masks.h"

namespace quorvane::read {

namespace {

using structural::AttributeMasks;

bool is_space(char c) { return structural::is_markup_space(static_cast<std::uint8_t>(c)); }

// What ends an attribute name, and what stops the scan of a value quoted
// with either quote: its closing quote, a '<', or what decoding would rewrite.
enum : std::uint8_t {
    kNameStop = 1,  // white space, quotes, '='
    kDoubleQuotedStop = 2,
    kSingleQuotedStop = 4,
};

constexpr std::array<std::uint8_t, 256> kStops = [] {
    std::array<std::uint8_t, 256> table{};
    for (const std::uint8_t c : structural::kMarkupSpaceBytes) table[c] = kNameStop;
    for (unsigned char c : {'"', '\'', '='}) table[c] = kNameStop;
    for (unsigned char c : {'<', '&', '\t', '\n', '\r'}) {
        table[c] |= kDoubleQuotedStop | kSingleQuotedStop;
    }
    table['"'] |= kDoubleQuotedStop;
    table['\''] |= kSingleQuotedStop;
    return table;
}();

// The searches of the attribute walk in a short region [.., end), a byte at
// a time; each ends at the region's end when nothing stops it.
class RegionBytes {
public:
    RegionBytes(std::string_view text, std::uint64_t end) : text_(text), end_(end) {}

    std::uint64_t skip_space(std::uint64_t p) const {
        while (p < end_ && is_space(text_[p])) ++p;
        return p;
    }
    std::uint64_t name_end(std::uint64_t p) const { return first_of(p, kNameStop); }
    std::uint64_t value_stop(std::uint64_t p, char quote) const {
        return first_of(p, quote == '"' ? kDoubleQuotedStop : kSingleQuotedStop);
    }
    // The '=' bytes from `p` on: at least the attributes from there, as each
    // has one outside its value; the map is sized by it up front.
    std::size_t equals_from(std::uint64_t p) const {
        std::size_t count = 0;
        const char* at = text_.data() + p;
        const char* const stop = text_.data() + end_;
        while (const void* hit = std::memchr(at, '=', static_cast<std::size_t>(stop - at))) {
            ++count;
            at = static_cast<const char*>(hit) + 1;
        }
        return count;
    }

private:
    std::uint64_t first_of(std::uint64_t p, std::uint8_t stops) const {
        while (p < end_ && (kStops[static_cast<unsigned char>(text_[p])] & stops) == 0) ++p;
        return p;
    }

    std::string_view text_;
    std::uint64_t end_;
};

// The same searches in a long region [start, end): its attribute masks are
// made once, 64 bytes at a time, and each search scans bits, not bytes.
class RegionMasks {
public:
    RegionMasks(std::string_view text, std::uint64_t start, std::uint64_t end)
        : start_(start), end_(end), count_((end - start + 63) / 64) {
        Stops* windows = inline_.data();
        if (count_ > inline_.size()) {
            heap_ = std::make_unique_for_overwrite<Stops[]>(count_);
            windows = heap_.get();
        }
        const auto kernel = structural::attribute_masks_kernel();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        for (std::size_t w = 0; w < count_; ++w) {
            const std::uint64_t at = start + 64 * w;
            if (text.size() - at >= 64) {
                windows[w] = Stops(kernel(bytes + at));
            } else {
                // The document's last bytes, padded with zeros, which match
                // nothing but the absence of white space.
                std::uint8_t tail[64] = {};
                std::memcpy(tail, bytes + at, text.size() - at);
                windows[w] = Stops(kernel(tail));
            }
        }
        windows_ = windows;
    }

    std::uint64_t skip_space(std::uint64_t from) const { return find<&Stops::non_space>(from); }
    std::uint64_t name_end(std::uint64_t from) const { return find<&Stops::name_end>(from); }
    std::uint64_t value_stop(std::uint64_t from, char quote) const {
        if (quote == '"') return find<&Stops::double_quoted_stop>(from);
        return find<&Stops::single_quoted_stop>(from);
    }
    std::size_t equals_from(std::uint64_t from) const {
        std::size_t count = 0;
        for (std::size_t w = (from - start_) / 64; w < count_; ++w) {
            const std::uint64_t base = start_ + 64 * w;
            std::uint64_t bits = windows_[w].equals;
            if (from > base) bits &= ~0ull << (from - base);
            if (end_ - base < 64) bits &= (1ull << (end_ - base)) - 1;
            count += static_cast<std::size_t>(std::popcount(bits));
        }
        return count;
    }

private:
    // One word per search, combined once per window: a search that combined
    // several masks would read them back as wide loads of the narrow stores
    // just made, which the processor cannot forward.
    struct Stops {
        Stops() = default;
        explicit Stops(const AttributeMasks& m)
            : non_space(~m.whitespace),
              name_end(m.whitespace | m.equals | m.double_quotes | m.apostrophes),
              double_quoted_stop(m.double_quotes | m.value_stop),
              single_quoted_stop(m.apostrophes | m.value_stop),
              equals(m.equals) {}
        std::uint64_t non_space;
        std::uint64_t name_end;
        std::uint64_t double_quoted_stop;
        std::uint64_t single_quoted_stop;
        std::uint64_t equals;
    };

    // The first offset in [from, end) whose bit in `Mask` is set; end if none.
    template <std::uint64_t Stops::* Mask>
    std::uint64_t find(std::uint64_t from) const {
        const std::uint64_t offset = from - start_;
        std::size_t w = offset / 64;
        if (w >= count_) return end_;
        std::uint64_t bits = windows_[w].*Mask >> (offset % 64);
        if (bits != 0) return std::min(end_, from + std::countr_zero(bits));
        while (++w < count_) {
            bits = windows_[w].*Mask;
            if (bits != 0) return std::min(end_, start_ + 64 * w + std::countr_zero(bits));
        }
        return end_;
    }

    std::uint64_t start_;
    std::uint64_t end_;
    std::size_t count_;
    std::array<Stops, 4> inline_;
    std::unique_ptr<Stops[]> heap_;
    const Stops* windows_;
};

// Regions longer than this are searched by their masks: past about two
// dozen bytes a region mostly holds a long value, which costs more a byte at
// a time than making one window's masks does.
constexpr std::uint64_t kMaskedRegionBytes = 24;

// The attributes of the region [p, end), which starts just after the
// element name; each must follow white space.
template <class Region>
std::expected<void, NativeFailure> parse_attributes(const Region& region,
                                                    storage::SpanCredit& spans,
                                                    std::string_view text, std::uint64_t p,
                                                    std::uint64_t end, AttributeTables& tables,
                                                    ParsedElement& element) {
    for (;;) {
        const std::uint64_t before_space = p;
        if (p < end && is_space(text[p])) p = region.skip_space(p);
        if (p >= end) return {};
        if (p == before_space) {
            return std::unexpected(
                NativeFailure::malformed("expected whitespace before attribute", p));
        }
        const std::uint64_t name_start = p;
        p = region.name_end(p);
        if (p == name_start) {
            return std::unexpected(NativeFailure::malformed("expected attribute name", p));
        }
        const std::string_view name = text.substr(name_start, p - name_start);
        if (p < end && is_space(text[p])) p = region.skip_space(p);
        if (p == end || text[p] != '=') {
            return std::unexpected(NativeFailure::malformed(
                "attribute " + storage::quoted(name) + " has no value", name_start));
        }
        ++p;
        if (p < end && is_space(text[p])) p = region.skip_space(p);
        if (p == end || (text[p] != '"' && text[p] != '\'')) {
            return std::unexpected(NativeFailure::malformed(
                "value of attribute " + storage::quoted(name) + " is not quoted", p));
        }
        const char quote = text[p];
        const std::uint64_t value_start = p + 1;
        // The value ends at its closing quote; a '<' before it is an error,
        // and anything decoding would rewrite sends it through the decoder.
        // Most values hold neither, and their bytes are looked at only once.
        bool rewrite = false;
        std::uint64_t q = region.value_stop(value_start, quote);
        for (; q < end && text[q] != quote; q = region.value_stop(q + 1, quote)) {
            if (text[q] == '<') {
                // An unterminated value is reported before the '<' in it.
                if (!std::memchr(text.data() + q, quote, end - q)) {
                    q = end;
                    break;
                }
                return std::unexpected(
                    NativeFailure::malformed("'<' is not allowed in attribute values", q));
            }
            rewrite = true;
        }
        if (q >= end) {
            return std::unexpected(
                NativeFailure::malformed("unterminated attribute value", value_start));
        }
        const std::uint64_t value_end = q;
        // A rewritten value is decoded before the name is checked for a
        // repeat, so that its errors come first.
        storage::OptionalString decoded_value;
        if (rewrite) {
            auto decoded =
                decode_text(text.substr(value_start, value_end - value_start), value_start, true);
            if (!decoded) return std::unexpected(std::move(decoded.error()));
            decoded_value = std::move(*decoded->rewritten).into_string();
        }
        if (element.attrs.empty()) {
            element.attrs =
                storage::AttributeMap(tables.key(), region.equals_from(name_start), tables.arena());
        }
        // The strings are made in the map's own slots, so that no span is
        // written to the stack only to be read back at once.
        const auto added = element.attrs.emplace_new(
            name, [&] { return tables.hash_of(name); },
            [&](storage::NodeString* key, storage::NodeString* value) {
                new (key) storage::NodeString(spans.span(name_start, name_start + name.size()));
                if (decoded_value) {
                    new (value) storage::NodeString(std::move(*decoded_value));
                } else {
                    new (value) storage::NodeString(spans.span(value_start, value_end));
                }
            });
        if (!added) return std::unexpected(std::move(added.error()));
        if (!*added) {
            return std::unexpected(NativeFailure::malformed(
                "duplicate attribute " + storage::quoted(name), name_start));
        }
        p = value_end + 1;
    }
}

}  // namespace

std::expected<void, NativeFailure> parse_start_tag(storage::SpanCredit& spans,
                                                   const structural::StructuralIndex& index,
                                                   std::size_t i, AttributeTables& tables,
                                                   ParsedElement& element) {
    const TagName tag = element_tag(index, i);
    if (tag.length == 0) return std::unexpected(missing_element_name(index, i));
    element.name = spans.span(tag.start, tag.start + tag.length);
    const std::string_view text = index.source;
    const std::uint64_t start = tag.region_start;
    const std::uint64_t end = tag.region_end;
    if (start >= end) return {};
    if (end - start > kMaskedRegionBytes) {
        return parse_attributes(RegionMasks(text, start, end), spans, text, start, end, tables,
                                element);
    }
    return parse_attributes(RegionBytes(text, end), spans, text, start, end, tables, element);
}

}  // namespace quorvane::read
