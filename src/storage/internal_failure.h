// Failure values shared by the code that runs without the interpreter.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

namespace quorvane {

// A broken internal invariant; the call boundary raises it as PanicException.
struct InternalFailure {
    std::string message;
};

// Input/output error kinds; the call boundary picks the OSError subclass by kind.
enum class IoKind : std::uint8_t {
    NotFound,
    PermissionDenied,
    ConnectionRefused,
    ConnectionReset,
    ConnectionAborted,
    BrokenPipe,
    AlreadyExists,
    WouldBlock,
    NotADirectory,
    IsADirectory,
    TimedOut,
    Interrupted,
    OutOfMemory,
    InvalidData,
    WriteZero,
    Other,
};

// An operating-system error (os_code != 0) or one made by the file layer
// itself (fixed message, or only a kind).
struct IoError {
    IoKind kind = IoKind::Other;
    int os_code = 0;
    std::string message;

    static IoError from_errno(int code);
    static IoError from_layer(IoKind kind, std::string message) {
        return {kind, 0, std::move(message)};
    }
    // The text the exception carries: "<description> (os error N)", the
    // layer's own message, or the kind's description.
    std::string text() const;
};

const char* io_kind_description(IoKind kind);

}  // namespace quorvane
