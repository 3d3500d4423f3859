// The whole-file read behind read_file, with its UTF-8 check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/io.h"
#include "read/records.h"

namespace quorvane::read {

struct FileContents {
    std::unique_ptr<char[]> bytes;
    std::size_t length = 0;
};

// IoError for what the system or the UTF-8 check refuses; ReadError when the
// file is larger than the reader accepts (checked before reading it).
using FileFailure = std::variant<platform::IoError, ReadError>;

std::expected<FileContents, FileFailure> read_whole_file(const std::string& path);

}  // namespace quorvane::read
