#include "src/read/references.h"

#include <array>
#include <cstring>
#include <string>

namespace quorvane::read {

namespace {

// Bytes that stop a verbatim run when normalising.
constexpr std::array<bool, 256> kNormaliseStops = [] {
    std::array<bool, 256> table{};
    table['&'] = table['\t'] = table['\n'] = table['\r'] = true;
    return table;
}();

std::size_t next_stop(std::string_view bytes, std::size_t from, bool normalise) {
    if (!normalise) {
        const void* hit = std::memchr(bytes.data() + from, '&', bytes.size() - from);
        return hit ? static_cast<const char*>(hit) - bytes.data() : bytes.size();
    }
    while (from < bytes.size() && !kNormaliseStops[static_cast<unsigned char>(bytes[from])]) ++from;
    return from;
}

int digit_value(char c, unsigned radix) {
    if (c >= '0' && c <= '9') return c - '0';
    if (radix == 16) {
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    }
    return -1;
}

// The scalar value of "#..." (the name without '#'), or nothing if invalid.
std::optional<std::uint32_t> character_value(std::string_view digits) {
    unsigned radix = 10;
    if (!digits.empty() && digits.front() == 'x') {
        radix = 16;
        digits.remove_prefix(1);
    }
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        const int digit = digit_value(c, radix);
        if (digit < 0) return std::nullopt;
        value = value * radix + static_cast<unsigned>(digit);
        if (value > 0xFFFF'FFFFu) return std::nullopt;
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

void append_utf8(HeapText& out, std::uint32_t c) {
    char bytes[4];
    std::size_t len;
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        len = 1;
    } else if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        len = 2;
    } else if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        len = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (c >> 18));
        bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        len = 4;
    }
    out.append_unchecked(bytes, len);
}

std::optional<char> predefined_entity(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    return std::nullopt;
}

bool needs_rewrite(std::string_view bytes, bool normalise) {
    return next_stop(bytes, 0, normalise) != bytes.size();
}

}  // namespace

std::expected<DecodedText, NativeFailure> decode_text(std::string_view bytes, std::uint64_t offset,
                                                      bool normalise) {
    if (!needs_rewrite(bytes, normalise)) return DecodedText{};
    // Every reference is at least as long as its UTF-8 result and a CR LF
    // pair shrinks to one space, so the output never outgrows the input.
    HeapText out(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    for (;;) {
        const std::size_t stop = next_stop(bytes, i, normalise);
        out.append_unchecked(bytes.data() + i, stop - i);
        i = stop;
        if (i == n) return DecodedText{std::move(out)};
        if (bytes[i] != '&') {
            const bool crlf = bytes[i] == '\r' && i + 1 < n && bytes[i + 1] == '\n';
            out.push_unchecked(' ');
            i += crlf ? 2 : 1;
            continue;
        }
        const std::size_t semicolon = bytes.find(';', i + 1);
        if (semicolon == std::string_view::npos) {
            return std::unexpected(
                NativeFailure::malformed("unterminated entity reference", offset + i));
        }
        const std::string_view name = bytes.substr(i + 1, semicolon - i - 1);
        if (auto character = predefined_entity(name)) {
            out.push_unchecked(*character);
        } else if (!name.empty() && name.front() == '#') {
            auto value = character_value(name.substr(1));
            if (!value) {
                return std::unexpected(NativeFailure::malformed(
                    "invalid character reference '&" + std::string(name) + ";'", offset + i));
            }
            append_utf8(out, *value);
        } else {
            return std::unexpected(NativeFailure::unknown_entity(name, offset + i));
        }
        i = semicolon + 1;
    }
}

}  // namespace quorvane::read
