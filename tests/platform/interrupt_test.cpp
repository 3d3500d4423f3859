// The question long work asks now and then: whether to stop.
#include "platform/interrupt.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quorvane::platform {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

struct Asked {
    int times = 0;
    int stop_from = 1;  // the first ask that answers stop
};

bool answer(void* context) {
    auto& asked = *static_cast<Asked*>(context);
    return ++asked.times >= asked.stop_from;
}

TEST(StopQuestion, WithoutOneWorkNeverStops) {
    EXPECT_FALSE(stop_requested(64 * kMiB));
    EXPECT_FALSE(stop_requested_after_signal());
}

TEST(StopQuestion, IsAskedOncePastTheFirstIntervalAndItsStopLasts) {
    Asked asked{0, 2};
    StopQuestionScope scope(StopQuestion{&answer, &asked, 0});
    EXPECT_FALSE(stop_requested(kMiB / 2)) << "no clock read before a MiB of work";
    EXPECT_FALSE(stop_requested(kMiB)) << "the first clock read starts the interval";
    EXPECT_EQ(asked.times, 0);
    EXPECT_FALSE(stop_requested(kMiB));
    EXPECT_EQ(asked.times, 1);
    EXPECT_TRUE(stop_requested(kMiB));
    EXPECT_TRUE(stop_requested(0));
    EXPECT_TRUE(stop_requested_after_signal());
    EXPECT_EQ(asked.times, 2) << "a stop is not asked again";
}

TEST(StopQuestion, AnInterruptedSystemCallAsksAtOnce) {
    Asked asked;
    StopQuestionScope scope(StopQuestion{&answer, &asked});
    EXPECT_TRUE(stop_requested_after_signal());
    EXPECT_EQ(asked.times, 1);
}

TEST(StopQuestion, AnInnerScopeGivesTheOuterOneBack) {
    Asked outer;
    StopQuestionScope outer_scope(StopQuestion{&answer, &outer, 0});
    {
        Asked inner;
        StopQuestionScope inner_scope(StopQuestion{&answer, &inner});
        EXPECT_TRUE(stop_requested_after_signal());
    }
    EXPECT_EQ(outer.times, 0);
    EXPECT_TRUE(stop_requested_after_signal());
    EXPECT_EQ(outer.times, 1);
}

TEST(PositionPoll, CountsOnlyTheBytesPassedSinceItsLastAsk) {
    Asked asked{0, 3};
    StopQuestionScope scope(StopQuestion{&answer, &asked, 0});
    PositionPoll poll;
    std::uint64_t position = 0;
    while (!poll.stop_requested(position)) {
        position += 4096;
        ASSERT_LT(position, 16 * kMiB) << "never stopped";
    }
    // A clock read per MiB: the first starts the interval and each later
    // one asks, so the third ask, at 4 MiB, stops.
    EXPECT_GE(position, 4 * kMiB);
    EXPECT_LT(position, 5 * kMiB);
}

}  // namespace
}  // namespace quorvane::platform
