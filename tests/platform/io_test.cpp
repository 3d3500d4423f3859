// Input/output failures as values, with their texts.
#include "platform/io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace quorvane::platform {
namespace {

class SystemErrors : public testing::TestWithParam<int> {};

// The C library's strerror_r comes in two forms that return the text
// differently; either way the system's own description is carried, trimmed.
TEST_P(SystemErrors, CarryTheCodeAndTheSystemsDescription) {
    const int code = GetParam();
    NativeFailure error = NativeFailure::from_errno(code);
    EXPECT_EQ(error.kind, NativeFailure::Kind::System);
    EXPECT_EQ(error.os_code, code);
    EXPECT_EQ(error.io_text(),
              std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")");
}

INSTANTIATE_TEST_SUITE_P(Platform, SystemErrors, testing::Values(ENOENT, EISDIR, ENOMEM, EIO));

TEST(NativeFailure, LayerErrorsCarryTheirMessage) {
    EXPECT_EQ(NativeFailure::from_layer("stream did not contain valid UTF-8").io_text(),
              "stream did not contain valid UTF-8");
    EXPECT_EQ(NativeFailure::out_of_memory().io_text(), "out of memory");
}

}  // namespace
}  // namespace quorvane::platform
