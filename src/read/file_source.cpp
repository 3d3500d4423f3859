#include "read/file_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/interrupt.h"

namespace quorvane::read {

namespace {

constexpr std::size_t kValidationSliceBytes = std::size_t{4} << 20;

// Length of the valid sequence led by s[i] (a non-ASCII byte), or 0.
std::size_t sequence_length(const unsigned char* s, std::size_t i, std::size_t n) {
    const unsigned char b0 = s[i];
    auto continuation = [&](std::size_t k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) return continuation(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        const unsigned char b1 = s[i + 1];
        if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
        if (b0 == 0xED && b1 > 0x9F) return 0;  // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        const unsigned char b1 = s[i + 1];
        if (b0 == 0xF0 && b1 < 0x90) return 0;  // overlong
        if (b0 == 0xF4 && b1 > 0x8F) return 0;  // above U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Markup is mostly ASCII: skip it eight bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080'8080'8080'8080ull) == 0) {
                i += 8;
                continue;
            }
        }
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t len = sequence_length(s, i, n);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::expected<FileContents, NativeFailure> read_whole_file(const std::string& path) {
    auto file = platform::open_for_reading(path);
    if (!file) return std::unexpected(std::move(file.error()));
    auto expected_size = file->reported_size();
    if (!expected_size) return std::unexpected(std::move(expected_size.error()));
    if (*expected_size > kMaxDocumentBytes)
        return std::unexpected(NativeFailure::too_large(*expected_size));

    // One byte beyond the size the system reports, so a file that has not
    // changed is read to its end without regrowing.
    std::size_t capacity = static_cast<std::size_t>(*expected_size) + 1;
    std::unique_ptr<char[]> bytes(new char[capacity]);
    std::size_t length = 0;
    for (;;) {
        if (length == capacity) {
            if (length > kMaxDocumentBytes)
                return std::unexpected(NativeFailure::too_large(length));
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::memcpy(larger.get(), bytes.get(), length);
            bytes = std::move(larger);
            capacity *= 2;
        }
        auto got = file->read_some(bytes.get() + length, capacity - length);
        if (!got) return std::unexpected(std::move(got.error()));
        if (*got == 0) break;
        length += *got;
        // A pipe or device may never end.
        if (platform::stop_requested(*got)) return std::unexpected(NativeFailure::stopped());
    }
    if (length > kMaxDocumentBytes) return std::unexpected(NativeFailure::too_large(length));
    // Checked a slice at a time, each cut before a character's first byte,
    // so that the check of a file of many GiB can be asked to stop.
    const std::string_view contents(bytes.get(), length);
    for (std::size_t start = 0; start < length;) {
        std::size_t end = std::min(length, start + kValidationSliceBytes);
        for (int back = 0; back < 3 && end < length && end > start + 1 &&
                           (static_cast<unsigned char>(contents[end]) & 0xC0) == 0x80;
             ++back) {
            --end;
        }
        if (!is_valid_utf8(contents.substr(start, end - start))) {
            return std::unexpected(NativeFailure::from_layer("stream did not contain valid UTF-8"));
        }
        if (platform::stop_requested(end - start)) return std::unexpected(NativeFailure::stopped());
        start = end;
    }
    return FileContents{std::move(bytes), length};
}

}  // namespace quorvane::read
