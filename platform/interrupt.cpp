#include "platform/interrupt.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace quorvane::platform {

namespace {

// Reading the clock costs tens of nanoseconds: a MiB of work, far longer,
// hides it.
constexpr std::uint64_t kWorkBetweenClockReads = std::uint64_t{1} << 20;

struct ThreadStop {
    StopQuestion question;
    std::uint64_t work_until_clock = kWorkBetweenClockReads;
    // Zero until the first clock read, which starts the interval: a call
    // shorter than that never asks.
    std::uint64_t next_ask_ns = 0;
    bool stopped = false;
};

thread_local ThreadStop current;

std::uint64_t monotonic_ns() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

bool ask(ThreadStop& state) noexcept {
    state.stopped = state.question.ask(state.question.context);
    return state.stopped;
}

}  // namespace

StopQuestionScope::StopQuestionScope(StopQuestion question) noexcept
    : saved_{current.question, current.work_until_clock, current.next_ask_ns, current.stopped} {
    current = ThreadStop{question};
}

StopQuestionScope::~StopQuestionScope() {
    current =
        ThreadStop{saved_.question, saved_.work_until_clock, saved_.next_ask_ns, saved_.stopped};
}

bool stop_requested(std::uint64_t work) noexcept {
    ThreadStop& state = current;
    if (state.stopped) return true;
    if (!state.question.ask) return false;
    if (work < state.work_until_clock) {
        state.work_until_clock -= work;
        return false;
    }
    state.work_until_clock = kWorkBetweenClockReads;
    const std::uint64_t now = monotonic_ns();
    if (state.next_ask_ns == 0) {
        state.next_ask_ns = now + state.question.interval_ns;
        return false;
    }
    if (now < state.next_ask_ns) return false;
    if (ask(state)) return true;
    state.next_ask_ns = monotonic_ns() + state.question.interval_ns;
    return false;
}

bool stop_requested_after_signal() noexcept {
    ThreadStop& state = current;
    if (state.stopped) return true;
    return state.question.ask && ask(state);
}

bool on_main_thread() noexcept { return syscall(SYS_gettid) == getpid(); }

}  // namespace quorvane::platform
