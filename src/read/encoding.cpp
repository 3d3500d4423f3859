#include "src/read/encoding.h"

#include <algorithm>
#include <cstdio>

#include "platform/interrupt.h"
#include "src/storage/ascii.h"
#include "structural/simd/utf8.h"

namespace quorvane::read {

namespace {

// A declaration is short; this many characters are looked at for it.
constexpr std::size_t kDeclarationScan = 256;

// The check's slice: a stop is asked for between slices.
constexpr std::size_t kCheckSliceBytes = std::size_t{4} << 20;

std::uint8_t byte_at(std::string_view bytes, std::size_t i) {
    return i < bytes.size() ? static_cast<std::uint8_t>(bytes[i]) : 0xFF;
}

bool starts_with(std::string_view bytes, std::initializer_list<std::uint8_t> prefix) {
    std::size_t i = 0;
    for (const std::uint8_t expected : prefix) {
        if (i >= bytes.size() || byte_at(bytes, i) != expected) return false;
        ++i;
    }
    return true;
}

std::size_t unit_bytes(ByteLayout layout) {
    switch (layout) {
        case ByteLayout::Utf16LittleEndian:
        case ByteLayout::Utf16BigEndian:
            return 2;
        case ByteLayout::Utf32LittleEndian:
        case ByteLayout::Utf32BigEndian:
            return 4;
        default:
            return 1;
    }
}

bool big_endian(ByteLayout layout) {
    return layout == ByteLayout::Utf16BigEndian || layout == ByteLayout::Utf32BigEndian;
}

// The first characters of a document in a wider layout while they are
// ASCII, one byte each.
std::string ascii_head(std::string_view document, ByteLayout layout, std::size_t from) {
    const std::size_t width = unit_bytes(layout);
    std::string head;
    for (std::size_t at = from; at + width <= document.size() && head.size() < kDeclarationScan;
         at += width) {
        std::uint32_t unit = 0;
        for (std::size_t k = 0; k < width; ++k) {
            const std::size_t byte = big_endian(layout) ? k : width - 1 - k;
            unit = unit << 8 | static_cast<std::uint8_t>(document[at + byte]);
        }
        if (unit >= 0x80) break;
        head.push_back(static_cast<char>(unit));
    }
    return head;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The value of `encoding` in `<?xml version="1.0" encoding="..."?>` at the
// very start of `head`, or empty. The reader checks nothing of the
// declaration, which it skips as a processing instruction.
std::string declared_encoding(std::string_view head) {
    if (!head.starts_with("<?xml") || head.size() < 6 || !is_space(head[5])) return {};
    const std::size_t end = std::min(head.find("?>"), head.size());
    std::size_t at = 5;
    auto skip_space = [&] {
        while (at < end && is_space(head[at])) ++at;
    };
    for (;;) {
        skip_space();
        const std::size_t name_start = at;
        while (at < end && head[at] != '=' && !is_space(head[at])) ++at;
        const std::string_view name = head.substr(name_start, at - name_start);
        skip_space();
        if (name.empty() || at >= end || head[at] != '=') return {};
        ++at;
        skip_space();
        if (at >= end || (head[at] != '"' && head[at] != '\'')) return {};
        const char quote = head[at++];
        const std::size_t value_end = head.find(quote, at);
        if (value_end >= end) return {};
        if (name == "encoding") return std::string(head.substr(at, value_end - at));
        at = value_end + 1;
    }
}

NativeFailure not_ascii(std::string_view text, std::size_t from) {
    std::size_t at = from;
    while (static_cast<std::uint8_t>(text[at]) < 0x80) ++at;
    char message[64];
    std::snprintf(message, sizeof message, "byte 0x%02X does not fit the declared encoding 'ascii'",
                  static_cast<std::uint8_t>(text[at]));
    return NativeFailure::malformed(message, at);
}

}  // namespace

SniffedEncoding sniff_encoding(std::string_view document) {
    SniffedEncoding sniffed;
    // Marks first, the longer before the shorter that begins it; then a
    // first '<' and the character after it in a wider layout: "<?xml", or a
    // tag, which no document in an ASCII-compatible encoding begins with.
    if (starts_with(document, {0x00, 0x00, 0xFE, 0xFF})) {
        sniffed = {ByteLayout::Utf32BigEndian, 4, {}};
    } else if (starts_with(document, {0xFF, 0xFE, 0x00, 0x00})) {
        sniffed = {ByteLayout::Utf32LittleEndian, 4, {}};
    } else if (starts_with(document, {0xFE, 0xFF})) {
        sniffed = {ByteLayout::Utf16BigEndian, 2, {}};
    } else if (starts_with(document, {0xFF, 0xFE})) {
        sniffed = {ByteLayout::Utf16LittleEndian, 2, {}};
    } else if (starts_with(document, {0xEF, 0xBB, 0xBF})) {
        sniffed = {ByteLayout::Utf8Mark, 3, {}};
    } else if (starts_with(document, {0x00, 0x00, 0x00, 0x3C})) {
        sniffed.layout = ByteLayout::Utf32BigEndian;
    } else if (starts_with(document, {0x3C, 0x00, 0x00, 0x00})) {
        sniffed.layout = ByteLayout::Utf32LittleEndian;
    } else if (starts_with(document, {0x00, 0x3C, 0x00}) && byte_at(document, 3) != 0) {
        sniffed.layout = ByteLayout::Utf16BigEndian;
    } else if (starts_with(document, {0x3C, 0x00}) && byte_at(document, 2) != 0 &&
               byte_at(document, 3) == 0) {
        sniffed.layout = ByteLayout::Utf16LittleEndian;
    }
    if (unit_bytes(sniffed.layout) == 1) {
        sniffed.declared = declared_encoding(document.substr(sniffed.mark_bytes, kDeclarationScan));
    } else {
        sniffed.declared =
            declared_encoding(ascii_head(document, sniffed.layout, sniffed.mark_bytes));
    }
    return sniffed;
}

bool reads_as_utf8(const SniffedEncoding& sniffed) {
    if (sniffed.layout != ByteLayout::AsciiCompatible && sniffed.layout != ByteLayout::Utf8Mark)
        return false;
    std::string name = sniffed.declared;
    std::ranges::transform(name, name.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return name.empty() || name == "utf-8" || name == "utf8";
}

const char* wide_codec(ByteLayout layout) {
    switch (layout) {
        case ByteLayout::Utf16LittleEndian:
            return "utf-16-le";
        case ByteLayout::Utf16BigEndian:
            return "utf-16-be";
        case ByteLayout::Utf32LittleEndian:
            return "utf-32-le";
        case ByteLayout::Utf32BigEndian:
            return "utf-32-be";
        default:
            return nullptr;
    }
}

std::expected<void, NativeFailure> check_text(std::string_view text, TextCheck check) {
    if (check == TextCheck::None) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = std::min(text.size(), start + kCheckSliceBytes);
        // Each slice is cut before a character's first byte.
        for (int back = 0;
             back < 3 && end < text.size() && end > start + 1 && (bytes[end] & 0xC0) == 0x80;
             ++back) {
            --end;
        }
        const std::string_view slice = text.substr(start, end - start);
        if (check == TextCheck::Ascii) {
            if (!storage::is_ascii(slice)) return std::unexpected(not_ascii(text, start));
        } else if (!structural::is_valid_utf8(slice)) {
            if (check == TextCheck::Utf8File)
                return std::unexpected(
                    NativeFailure::from_layer("stream did not contain valid UTF-8"));
            const std::size_t at =
                start + structural::utf8_valid_prefix(bytes + start, end - start);
            return std::unexpected(NativeFailure::malformed("invalid UTF-8", at));
        }
        if (platform::stop_requested(end - start)) return std::unexpected(NativeFailure::stopped());
        start = end;
    }
    return {};
}

}  // namespace quorvane::read
