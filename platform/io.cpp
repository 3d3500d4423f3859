#include "platform/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/interrupt.h"

namespace quorvane::platform {

namespace {

// Makes the system call until no signal interrupts it, unless asked to stop
// after one; a negative result is the failure errno names, any other is
// made a `Result`.
template <class Result, class Call>
std::expected<Result, NativeFailure> retrying(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0) return Result(result);
        if (errno != EINTR) return std::unexpected(NativeFailure::from_errno(errno));
        if (stop_requested_after_signal()) return std::unexpected(NativeFailure::stopped());
    }
}

}  // namespace

FileDescriptor::~FileDescriptor() {
    // An interrupted close has still closed the descriptor on Linux, so it
    // is not retried.
    if (fd_ >= 0) ::close(fd_);
}

std::expected<std::uint64_t, NativeFailure> FileDescriptor::reported_size() const {
    struct stat info{};
    if (::fstat(fd_, &info) < 0) return std::unexpected(NativeFailure::from_errno(errno));
    return static_cast<std::uint64_t>(info.st_size > 0 ? info.st_size : 0);
}

std::expected<std::size_t, NativeFailure> FileDescriptor::read_some(char* into,
                                                                    std::size_t length) const {
    return retrying<std::size_t>([&] { return ::read(fd_, into, length); });
}

std::expected<std::size_t, NativeFailure> FileDescriptor::write_some(const char* data,
                                                                     std::size_t length) const {
    return retrying<std::size_t>([&] { return ::write(fd_, data, length); });
}

namespace {

std::expected<FileDescriptor, NativeFailure> open_file(const std::string& path, int flags) {
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(
            NativeFailure::from_layer("file name contained an unexpected NUL byte"));
    }
    return retrying<FileDescriptor>([&] { return ::open(path.c_str(), flags | O_CLOEXEC, 0666); });
}

}  // namespace

std::expected<FileDescriptor, NativeFailure> open_for_reading(const std::string& path) {
    return open_file(path, O_RDONLY);
}

std::expected<FileDescriptor, NativeFailure> open_for_writing(const std::string& path) {
    return open_file(path, O_WRONLY | O_CREAT | O_TRUNC);
}

}  // namespace quorvane::platform
