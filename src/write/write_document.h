// The ways a detached tree is written: into one block of memory, or through
// a buffer into a file (8192 bytes) or another taker of bytes. None touches
// the interpreter.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "platform/io.h"
#include "src/write/byte_sink.h"
#include "src/write/detached_tree.h"
#include "src/write/file_sink.h"
#include "src/write/serializer.h"

namespace quorvane::write {

struct WriteOptions {
    std::uint64_t indent = 4;
    bool declaration = true;
};

// The bytes to give the text to start with, from its length before
// escaping (counted by the copier, when `counted`, or else measured from
// the tree): a little more, which is all most texts need, and room for the
// last direct write to ask for all it might take. Nothing when the text
// could not be held next to the str made from it, past half the machine's
// memory; it is then refused before anything is written.
std::optional<std::uint64_t> memory_capacity(const DetachedTree& tree, WriteOptions options,
                                             const UnescapedSizeCount* counted);

// The whole text in one block, or NativeFailure::out_of_memory().
std::expected<ByteSink, NativeFailure> write_to_memory(const DetachedTree& tree,
                                                       WriteOptions options,
                                                       const UnescapedSizeCount* counted = nullptr);

// The same written into `capacity` bytes at `borrowed`, which the caller
// owns and memory_capacity() sized, until they run short.
std::expected<ByteSink, NativeFailure> write_to_memory_at(const DetachedTree& tree,
                                                          WriteOptions options, char* borrowed,
                                                          std::uint64_t capacity);

// Creates or truncates the file at `path` and writes the text into it. After
// a failed write the file keeps what was written before the failure.
std::expected<void, NativeFailure> write_to_file(const DetachedTree& tree, const std::string& path,
                                                 WriteOptions options);

// Writes the text to `target` in pieces of `piece_bytes`, the last shorter.
std::expected<void, NativeFailure> write_to_target(const DetachedTree& tree, WriteTarget target,
                                                   WriteOptions options, std::size_t piece_bytes);

}  // namespace quorvane::write
