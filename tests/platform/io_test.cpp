// Operating-system errors as values by kind, with their texts.
#include "platform/io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace quorvane::platform {
namespace {

struct ErrnoCase {
    int code;
    IoKind kind;
};

class ErrnoKinds : public testing::TestWithParam<ErrnoCase> {};

TEST_P(ErrnoKinds, MapToTheirKindAndCarryTheCode) {
    IoError error = IoError::from_errno(GetParam().code);
    EXPECT_EQ(error.kind, GetParam().kind);
    std::string suffix = " (os error " + std::to_string(GetParam().code) + ")";
    std::string text = error.text();
    ASSERT_GT(text.size(), suffix.size());
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
    EXPECT_NE(text[text.size() - suffix.size() - 1], ' ') << "the description is trimmed";
}

INSTANTIATE_TEST_SUITE_P(
    Platform, ErrnoKinds,
    testing::Values(
        ErrnoCase{ENOENT, IoKind::NotFound}, ErrnoCase{EACCES, IoKind::PermissionDenied},
        ErrnoCase{EPERM, IoKind::PermissionDenied},
        ErrnoCase{ECONNREFUSED, IoKind::ConnectionRefused},
        ErrnoCase{ECONNRESET, IoKind::ConnectionReset},
        ErrnoCase{ECONNABORTED, IoKind::ConnectionAborted}, ErrnoCase{EPIPE, IoKind::BrokenPipe},
        ErrnoCase{EEXIST, IoKind::AlreadyExists}, ErrnoCase{EAGAIN, IoKind::WouldBlock},
        ErrnoCase{ENOTDIR, IoKind::NotADirectory}, ErrnoCase{EISDIR, IoKind::IsADirectory},
        ErrnoCase{ETIMEDOUT, IoKind::TimedOut}, ErrnoCase{EINTR, IoKind::Interrupted},
        ErrnoCase{ENOMEM, IoKind::OutOfMemory}, ErrnoCase{EIO, IoKind::Other}));

// The C library's strerror_r comes in two forms that return the text
// differently; either way the system's own description is carried.
TEST(IoError, OsErrorsCarryTheSystemsDescription) {
    EXPECT_EQ(IoError::from_errno(ENOENT).text(),
              std::string(std::strerror(ENOENT)) + " (os error " + std::to_string(ENOENT) + ")");
}

TEST(IoError, LayerErrorsCarryTheirMessageOrTheKindDescription) {
    EXPECT_EQ(IoError::from_layer(IoKind::InvalidData, "stream did not contain valid UTF-8").text(),
              "stream did not contain valid UTF-8");
    EXPECT_EQ(IoError::from_layer(IoKind::PermissionDenied, "").text(), "permission denied");
    EXPECT_EQ(IoError::from_layer(IoKind::NotFound, "").text(), "entity not found");
}

}  // namespace
}  // namespace quorvane::platform
