#pragma once

// When to call a site again after a dialled call dropped without the
// operator (far-end hang-up, line error, no carrier).
//
// How it works: a pure state machine over an injected time. A drop arms the
// first attempt 10 s later; each failed attempt (busy, no answer, refused)
// arms the next after 30 s, 60 s, 2 min and then every 5 min, until the
// attempt count is used up. An attempt falls due only while the line is free:
// an incoming call takes precedence and the attempt waits until it ended. A
// call that logs in ends the series; the operator's Hang up or Connect, a
// rejected login or the program closing cancel it. The caller owns the timer
// and asks TakeDue on every tick.

#include "link/Protocol.h"
#include "link/ReopenChannel.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class RedialScheduler {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr int kMinAttempts = 1;
    static constexpr int kMaxAttempts = 20;
    static constexpr int kDefaultAttempts = 5;

    // What the dropped call was: dialled again with the same values.
    struct Target {
        QString number;
        LoginValues login;
        std::vector<ReopenChannel> channels;
    };

    enum class Phase {
        Idle,     // nothing planned
        Waiting,  // counting down to the next attempt
        Dialling, // an attempt is under way
    };

    // The wait before attempt `attempt` (1-based).
    static std::chrono::seconds delayBefore(int attempt);

    // Off by default; attempts are clamped into 1..20.
    void configure(bool enabled, int attempts);
    bool enabled() const { return m_enabled; }
    int maxAttempts() const { return m_maxAttempts; }

    // A dialled call that had connected ended without the operator. False
    // (nothing planned) while switched off.
    bool onCallDropped(Target target, TimePoint now);
    // The attempt under way ended before logging in. Arms the next one; false
    // when the attempts are used up (the series ends).
    bool onAttemptFailed(TimePoint now);
    // The attempt under way logged in: the series ends.
    void onLoggedIn();
    void cancel();

    // True when an attempt is to be placed now: due and the line is free.
    // The attempt then counts and the phase becomes Dialling.
    bool takeDue(TimePoint now, bool lineFree);

    Phase currentPhase() const { return m_phase; }
    bool pending() const { return m_phase != Phase::Idle; }
    // The number of the attempt under way or next.
    int attempt() const { return m_attempt; }
    const Target& currentTarget() const { return m_target; }
    // The countdown ("Reconnecting in 25 s (attempt 2 of 5)") while waiting.
    std::optional<QString> statusText(TimePoint now) const;

private:
    bool m_enabled = false;
    int m_maxAttempts = kDefaultAttempts;
    Phase m_phase = Phase::Idle;
    int m_attempt = 0;
    TimePoint m_due{};
    Target m_target;
};
