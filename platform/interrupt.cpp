#include "platform/interrupt.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace quorvane::platform {

namespace {

// Reading the clock costs tens of nanoseconds: a MiB of work, far longer,
// hides it.
constexpr std::uint64_t kWorkBetweenClockReads = std::uint64_t{1} << 20;

thread_local StopQuestionScope* innermost = nullptr;

std::uint64_t monotonic_ns() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

StopQuestionScope::StopQuestionScope(StopQuestion question) noexcept
    : question_(question), work_until_clock_(kWorkBetweenClockReads), outer_(innermost) {
    innermost = this;
}

StopQuestionScope::~StopQuestionScope() { innermost = outer_; }

bool StopQuestionScope::ask() noexcept {
    stopped_ = question_.ask(question_.context);
    return stopped_;
}

bool stop_requested(std::uint64_t work) noexcept {
    StopQuestionScope* scope = innermost;
    if (!scope) return false;
    if (scope->stopped_) return true;
    if (work < scope->work_until_clock_) {
        scope->work_until_clock_ -= work;
        return false;
    }
    scope->work_until_clock_ = kWorkBetweenClockReads;
    const std::uint64_t now = monotonic_ns();
    if (scope->next_ask_ns_ == 0) {
        scope->next_ask_ns_ = now + scope->question_.interval_ns;
        return false;
    }
    if (now < scope->next_ask_ns_) return false;
    if (scope->ask()) return true;
    scope->next_ask_ns_ = monotonic_ns() + scope->question_.interval_ns;
    return false;
}

bool stop_requested_after_signal() noexcept {
    StopQuestionScope* scope = innermost;
    if (!scope) return false;
    return scope->stopped_ || scope->ask();
}

namespace {

// Asked on every release of the interpreter, so kept per thread; a fork
// makes the forking thread the child's first, so it asks again there.
thread_local int main_thread_answer = -1;
[[maybe_unused]] const int forget_after_fork =
    pthread_atfork(nullptr, nullptr, [] { main_thread_answer = -1; });

}  // namespace

bool on_main_thread() noexcept {
    if (main_thread_answer < 0) main_thread_answer = syscall(SYS_gettid) == getpid() ? 1 : 0;
    return main_thread_answer == 1;
}

}  // namespace quorvane::platform
