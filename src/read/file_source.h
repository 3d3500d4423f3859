// The whole-file read behind read_file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>

#include "platform/io.h"
#include "src/read/records.h"

namespace quorvane::read {

struct FileContents {
    std::unique_ptr<char[]> bytes;
    std::size_t length = 0;
};

// Fails with what the system refuses, or as too large when the file is
// larger than the reader accepts (checked before reading it).
std::expected<FileContents, NativeFailure> read_whole_file(const std::string& path);

}  // namespace quorvane::read
