// The redial series in isolation, on an injected time: the waits, what counts
// as an attempt, what ends the series and what takes precedence.
#include "unattended/RedialScheduler.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using TimePoint = RedialScheduler::TimePoint;

RedialScheduler::Target Target() {
    RedialScheduler::Target t;
    t.number = "555";
    t.login.user = "op";
    t.channels = {{2, false}, {1, true}};
    return t;
}

// Runs a series whose every attempt fails at once; returns the offsets (from
// the drop) at which the attempts were placed.
std::vector<std::chrono::seconds> failEveryAttempt(RedialScheduler& s) {
    TimePoint now{};
    s.onCallDropped(Target(), now);
    std::vector<std::chrono::seconds> placed;
    for (int guard = 0; guard < 100000 && s.pending(); ++guard) {
        now += 1s;
        if (s.takeDue(now, true)) {
            placed.push_back(std::chrono::duration_cast<std::chrono::seconds>(now - TimePoint{}));
            s.onAttemptFailed(now);
        }
    }
    return placed;
}

TEST(RedialScheduler, AttemptsFollowTheWaitsAndStopAtTheCount) {
    RedialScheduler s;
    s.configure(true, 7);
    EXPECT_EQ(failEveryAttempt(s),
              (std::vector<std::chrono::seconds>{10s, 40s, 100s, 220s, 520s, 820s, 1120s}));
    EXPECT_FALSE(s.pending());

    // The count is clamped to 1..20.
    s.configure(true, 0);
    EXPECT_EQ(failEveryAttempt(s).size(), 1u);
    s.configure(true, 99);
    EXPECT_EQ(failEveryAttempt(s).size(), 20u);
}

TEST(RedialScheduler, SwitchedOffPlansNothingAndSwitchingOffEndsASeries) {
    RedialScheduler s;
    EXPECT_FALSE(s.enabled()); // off unless configured
    EXPECT_FALSE(s.onCallDropped(Target(), TimePoint{}));
    EXPECT_FALSE(s.takeDue(TimePoint{} + 1h, true));

    s.configure(true, 5);
    ASSERT_TRUE(s.onCallDropped(Target(), TimePoint{}));
    s.configure(false, 5);
    EXPECT_FALSE(s.pending());
    EXPECT_FALSE(s.takeDue(TimePoint{} + 1h, true));
}

TEST(RedialScheduler, CancelAndLoginEndTheSeries) {
    RedialScheduler s;
    s.configure(true, 5);
    // Hang up while waiting.
    s.onCallDropped(Target(), TimePoint{});
    s.cancel();
    EXPECT_FALSE(s.pending());
    EXPECT_FALSE(s.takeDue(TimePoint{} + 1h, true));
    EXPECT_FALSE(s.statusText(TimePoint{}).has_value());

    // Hang up while an attempt is under way: its failure afterwards plans nothing.
    s.onCallDropped(Target(), TimePoint{});
    ASSERT_TRUE(s.takeDue(TimePoint{} + 10s, true));
    s.cancel();
    EXPECT_FALSE(s.onAttemptFailed(TimePoint{} + 11s));
    EXPECT_FALSE(s.pending());

    // A login ends it; a later failure report is ignored.
    s.onCallDropped(Target(), TimePoint{});
    ASSERT_TRUE(s.takeDue(TimePoint{} + 10s, true));
    EXPECT_EQ(s.currentTarget().channels, Target().channels);
    s.onLoggedIn();
    EXPECT_FALSE(s.pending());
    EXPECT_EQ(s.attempt(), 0);
    // A login report while only waiting changes nothing.
    s.onCallDropped(Target(), TimePoint{});
    s.onLoggedIn();
    EXPECT_EQ(s.currentPhase(), RedialScheduler::Phase::Waiting);
}

TEST(RedialScheduler, ABusyLineHoldsTheDueAttemptUntilItIsFree) {
    RedialScheduler s;
    s.configure(true, 5);
    s.onCallDropped(Target(), TimePoint{});
    EXPECT_FALSE(s.takeDue(TimePoint{} + 9s, true)); // not yet
    // An incoming call holds the line when the attempt falls due.
    EXPECT_FALSE(s.takeDue(TimePoint{} + 10s, false));
    EXPECT_FALSE(s.takeDue(TimePoint{} + 200s, false));
    EXPECT_EQ(s.attempt(), 1); // the held attempt is not used up
    EXPECT_TRUE(s.takeDue(TimePoint{} + 201s, true));
    EXPECT_EQ(s.currentPhase(), RedialScheduler::Phase::Dialling);
    EXPECT_FALSE(s.takeDue(TimePoint{} + 202s, true)); // once
}

TEST(RedialScheduler, StatusTextCountsDownInWholeSeconds) {
    RedialScheduler s;
    s.configure(true, 5);
    s.onCallDropped(Target(), TimePoint{});
    EXPECT_EQ(s.statusText(TimePoint{}), "Reconnecting in 10 s (attempt 1 of 5)");
    EXPECT_EQ(s.statusText(TimePoint{} + 500ms), "Reconnecting in 10 s (attempt 1 of 5)");
    EXPECT_EQ(s.statusText(TimePoint{} + 9100ms), "Reconnecting in 1 s (attempt 1 of 5)");
    EXPECT_EQ(s.statusText(TimePoint{} + 60s), "Reconnecting in 0 s (attempt 1 of 5)");
    ASSERT_TRUE(s.takeDue(TimePoint{} + 60s, true));
    EXPECT_FALSE(s.statusText(TimePoint{} + 60s).has_value()); // dialling: the dial window shows
    s.onAttemptFailed(TimePoint{} + 65s);
    EXPECT_EQ(s.statusText(TimePoint{} + 70s), "Reconnecting in 25 s (attempt 2 of 5)");
}

} // namespace
