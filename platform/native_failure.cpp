#include "platform/native_failure.h"

#include <cstring>
#include <string_view>

namespace quorvane {

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

std::string NativeFailure::io_text() const {
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
        default:
            return text;
    }
}

}  // namespace quorvane
