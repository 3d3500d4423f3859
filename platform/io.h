// Files, and the operating system's errors as values by kind: the reader's
// whole-file read and the writer's file sink go through here.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>

namespace quorvane::platform {

// A failure of input or output: the system's error (its code), one the file
// layer makes itself (its fixed message), memory running out, or a stop.
// The call boundary lets the interpreter pick the OSError subclass of a code.
struct IoError {
    enum class Kind : std::uint8_t {
        System,       // `os_code` is the system's error number
        Layer,        // `message` says what the file layer refused
        OutOfMemory,  // raised as MemoryError
        // The work stopped because stop_requested() said so; an interrupted
        // system call is otherwise retried.
        Stopped,
    };

    Kind kind = Kind::Layer;
    int os_code = 0;
    std::string message;

    static IoError from_errno(int code) { return {Kind::System, code, {}}; }
    static IoError from_layer(std::string message) { return {Kind::Layer, 0, std::move(message)}; }
    static IoError out_of_memory() { return {Kind::OutOfMemory, 0, {}}; }
    static IoError stopped() { return {Kind::Stopped, 0, {}}; }
    // The text the exception carries: "<description> (os error N)", the
    // layer's message, or "out of memory".
    std::string text() const;
};

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
    std::expected<std::uint64_t, IoError> reported_size() const;
    // Up to `length` bytes into `into`, retrying interrupted reads unless
    // asked to stop; 0 at the end.
    std::expected<std::size_t, IoError> read_some(char* into, std::size_t length) const;

private:
    int fd_;
};

// The system's write call on an open file: the bytes it took, or -1 with
// errno set; interrupted calls are the caller's to retry.
ssize_t write_some(int fd, const void* data, std::size_t size) noexcept;

// A path holding a NUL byte is refused: the system would see a shorter one.
// An open that waits (for the writer of a named pipe, say) can be asked to stop.
std::expected<FileDescriptor, IoError> open_for_reading(const std::string& path);
// Created if missing, truncated if present.
std::expected<FileDescriptor, IoError> open_for_writing(const std::string& path);

}  // namespace quorvane::platform
