// Linked into the wheels only (QUORVANE_OLD_GLIBC), which carry their own
// C++ runtime and must load on glibc 2.28. That runtime was compiled
// against a newer glibc, and the few of its parts the module pulls in
// name three functions and a flag that older glibc lacks; these stand in
// for them. Hidden, so that the process's own glibc never sees them.
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#define QUORVANE_HIDDEN __attribute__((visibility("hidden")))

extern "C" {

// Read by the runtime's reference counts: zero makes them atomic always,
// which is right whatever the process does with threads.
QUORVANE_HIDDEN char __libc_single_threaded = 0;

// The runtime reads one environment variable with it; binary literals,
// all C23 adds, are not among what it parses.
QUORVANE_HIDDEN unsigned long __isoc23_strtoul(const char* text, char** end, int base) {
    return std::strtoul(text, end, base);
}

// Reached only through std::random_device, which the module does not use;
// defined soundly all the same.
QUORVANE_HIDDEN std::uint32_t arc4random() {
    std::uint32_t value = 0;
    while (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value) &&
           errno == EINTR) {
    }
    return value;
}
}
