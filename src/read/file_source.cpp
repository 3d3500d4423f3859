#include "src/read/file_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/interrupt.h"
#include "structural/simd/utf8.h"

namespace quorvane::read {

// The UTF-8 check's slice: a stop is asked for between slices.
constexpr std::size_t kValidationSliceBytes = std::size_t{4} << 20;

std::expected<FileContents, NativeFailure> read_whole_file(const std::string& path) {
    auto file = platform::open_for_reading(path);
    if (!file) return std::unexpected(std::move(file.error()));
    auto expected_size = file->reported_size();
    if (!expected_size) return std::unexpected(std::move(expected_size.error()));
    if (*expected_size > kMaxDocumentBytes)
        return std::unexpected(NativeFailure::too_large(*expected_size));

    // One byte beyond the size the system reports, so a file that has not
    // changed is read to its end without regrowing; having exactly that size,
    // the read ends with no further call to find the end.
    const std::size_t reported = static_cast<std::size_t>(*expected_size);
    std::size_t capacity = reported + 1;
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
        if (length == reported && reported != 0) break;
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
        if (!structural::is_valid_utf8(contents.substr(start, end - start))) {
            return std::unexpected(NativeFailure::from_layer("stream did not contain valid UTF-8"));
        }
        if (platform::stop_requested(end - start)) return std::unexpected(NativeFailure::stopped());
        start = end;
    }
    return FileContents{std::move(bytes), length};
}

}  // namespace quorvane::read
