#include "platform/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

#include "platform/interrupt.h"

namespace quorvane::platform {

namespace {

// strerror_r comes in two forms: the GNU one returns the description, which
// may not be in the buffer; the POSIX one fills the buffer and returns 0.
[[maybe_unused]] const char* description_from(const char* returned, const char*) {
    return returned;
}
[[maybe_unused]] const char* description_from(int returned, const char* buffer) {
    return returned == 0 ? buffer : "Unknown error";
}

std::string_view trim_trailing_space(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || (text.back() >= '\t' && text.back() <= '\r'))) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string IoError::text() const {
    switch (kind) {
        case Kind::System: {
            char buffer[256];
            const char* description =
                description_from(strerror_r(os_code, buffer, sizeof buffer), buffer);
            std::string result(trim_trailing_space(description));
            result += " (os error ";
            result += std::to_string(os_code);
            result += ')';
            return result;
        }
        case Kind::OutOfMemory:
            return "out of memory";
        case Kind::Layer:
        case Kind::Stopped:
            break;
    }
    return message;
}

FileDescriptor::~FileDescriptor() {
    // An interrupted close has still closed the descriptor on Linux, so it
    // is not retried.
    if (fd_ >= 0) ::close(fd_);
}

std::expected<std::uint64_t, IoError> FileDescriptor::reported_size() const {
    struct stat info{};
    if (::fstat(fd_, &info) < 0) return std::unexpected(IoError::from_errno(errno));
    return static_cast<std::uint64_t>(info.st_size > 0 ? info.st_size : 0);
}

std::expected<std::size_t, IoError> FileDescriptor::read_some(char* into,
                                                              std::size_t length) const {
    for (;;) {
        const ssize_t got = ::read(fd_, into, length);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return std::unexpected(IoError::from_errno(errno));
        if (stop_requested_after_signal()) return std::unexpected(IoError::stopped());
    }
}

ssize_t write_some(int fd, const void* data, std::size_t size) noexcept {
    return ::write(fd, data, size);
}

namespace {

std::expected<FileDescriptor, IoError> open_file(const std::string& path, int flags) {
    if (path.find('\0') != std::string::npos) {
        return std::unexpected(IoError::from_layer("file name contained an unexpected NUL byte"));
    }
    int fd;
    while ((fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666)) < 0) {
        if (errno != EINTR) return std::unexpected(IoError::from_errno(errno));
        if (stop_requested_after_signal()) return std::unexpected(IoError::stopped());
    }
    return FileDescriptor(fd);
}

}  // namespace

std::expected<FileDescriptor, IoError> open_for_reading(const std::string& path) {
    return open_file(path, O_RDONLY);
}

std::expected<FileDescriptor, IoError> open_for_writing(const std::string& path) {
    return open_file(path, O_WRONLY | O_CREAT | O_TRUNC);
}

}  // namespace quorvane::platform
