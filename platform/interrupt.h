// Long work done without the interpreter asks now and then whether to stop,
// so that Ctrl-C ends it within a tenth of a second. Whoever lets go of the
// interpreter installs the question for its thread; where nobody did, work
// runs to its end.
#pragma once

#include <cstdint>

namespace quorvane::platform {

// `ask(context)` is true when the work should stop. It is asked at most
// every `interval_ns` of work, and at once when a system call is
// interrupted by a signal.
struct StopQuestion {
    bool (*ask)(void* context) = nullptr;
    void* context = nullptr;
    std::uint64_t interval_ns = 50'000'000;
};

// Installs `question` for this thread while it lives; the one it replaces
// comes back after. It holds the question's state itself, so installing
// one costs a thread-local pointer's write and not a copy.
class StopQuestionScope {
public:
    explicit StopQuestionScope(StopQuestion question) noexcept;
    ~StopQuestionScope();
    StopQuestionScope(const StopQuestionScope&) = delete;
    StopQuestionScope& operator=(const StopQuestionScope&) = delete;

private:
    friend bool stop_requested(std::uint64_t work) noexcept;
    friend bool stop_requested_after_signal() noexcept;

    bool ask() noexcept;

    StopQuestion question_;
    std::uint64_t work_until_clock_;
    // Zero until the first clock read, which starts the interval: a call
    // shorter than that never asks.
    std::uint64_t next_ask_ns_ = 0;
    bool stopped_ = false;
    StopQuestionScope* outer_;
};

// Counts `work` bytes done. Past every MiB it reads the clock, and once the
// question's interval has gone by since the last answer (or since the first
// MiB) it asks. True once an answer said stop, and from then on; the caller
// then ends its work as interrupted.
bool stop_requested(std::uint64_t work) noexcept;

// For a loop that moves forward through its input: asks stop_requested()
// each time the position has passed another kBytes, at one comparison per
// step otherwise.
class PositionPoll {
public:
    bool stop_requested(std::uint64_t position) noexcept {
        if (position < next_) [[likely]]
            return false;
        const std::uint64_t passed = position - last_;
        last_ = position;
        next_ = position + kBytes;
        return platform::stop_requested(passed);
    }

private:
    static constexpr std::uint64_t kBytes = std::uint64_t{256} << 10;
    std::uint64_t last_ = 0;
    std::uint64_t next_ = kBytes;
};

// After a system call a signal interrupted: asks at once.
bool stop_requested_after_signal() noexcept;

// Whether this is the process's first thread, where the interpreter runs
// signal handlers.
bool on_main_thread() noexcept;

}  // namespace quorvane::platform
