// Files, their errors as failure values: the reader's whole-file read and
// the writer's file sink go through here.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>

#include "platform/native_failure.h"

namespace quorvane::platform {

// Owns an open file; closes it when dropped.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    // The length the system reports, 0 for what is not a regular file.
    std::expected<std::uint64_t, NativeFailure> reported_size() const;
    // Up to `length` bytes into `into`, retrying interrupted reads unless
    // asked to stop; 0 at the end.
    std::expected<std::size_t, NativeFailure> read_some(char* into, std::size_t length) const;
    // Up to `length` bytes from `data`, retrying interrupted writes unless
    // asked to stop; the count the system took.
    std::expected<std::size_t, NativeFailure> write_some(const char* data,
                                                         std::size_t length) const;

private:
    int fd_;
};

// A path holding a NUL byte is refused: the system would see a shorter one.
// An open that waits (for the writer of a named pipe, say) can be asked to stop.
std::expected<FileDescriptor, NativeFailure> open_for_reading(const std::string& path);
// Created if missing, truncated if present.
std::expected<FileDescriptor, NativeFailure> open_for_writing(const std::string& path);

}  // namespace quorvane::platform
