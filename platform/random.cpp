#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>

namespace quorvane::platform {

bool fill_random(void* into, std::size_t length) noexcept {
    auto* bytes = static_cast<unsigned char*>(into);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n = getrandom(bytes + got, length - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace quorvane::platform
