// The two ways a detached tree is written: into one block of memory, or
// into a file through an 8192-byte buffer. Neither touches the interpreter.
#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "platform/io.h"
#include "write/byte_sink.h"
#include "write/detached_tree.h"
#include "write/serializer.h"

namespace quorvane::write {

struct WriteOptions {
    std::uint64_t indent = 4;
    bool declaration = true;
};

// The whole text in one block, or an IoError of kind OutOfMemory. A text
// longer than half the machine's memory, which could not be held next to
// the str made from it, is refused before anything is written: its length
// before escaping is known from `counted`, when the copier counted it, or
// else from the tree alone.
std::expected<ByteSink, platform::IoError> write_to_memory(
    const DetachedTree& tree, WriteOptions options, const UnescapedSizeCount* counted = nullptr);

// Creates or truncates the file at `path` and writes the text into it. After
// a failed write the file keeps what was written before the failure.
std::expected<void, platform::IoError> write_to_file(const DetachedTree& tree,
                                                     const std::string& path, WriteOptions options);

}  // namespace quorvane::write
