#include "src/read/file_source.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/interrupt.h"

namespace quorvane::read {

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
    return FileContents{std::move(bytes), length};
}

}  // namespace quorvane::read
