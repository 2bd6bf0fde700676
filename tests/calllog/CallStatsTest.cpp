// The call panel's figures and the frame-age rule with an injected clock: no
// test sleeps, time only moves when the test moves it.
#include "calllog/CallStats.h"
#include "calllog/CallEntryBuilder.h"
#include "calllog/FrameAge.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::steady_clock::time_point{} + 1000h};
    CallStats::Clock function() {
        return [this] {
            return now;
        };
    }
};

class CallStatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        line.modem = QStringLiteral("Modem 1");
        line.connectSpeed = 33600;
        counters.started = clock.now;
    }
    // One second passes with `bytes` received and the frames given per stream.
    void Second(uint64_t bytes, std::initializer_list<std::pair<int32_t, int>> frames = {}) {
        clock.now += 1s;
        counters.bytesIn += bytes;
        for (auto [key, n] : frames)
            for (int i = 0; i < n; ++i) {
                counters.Channel(key - 1000, key)->countFrame(1000, clock.now);
                ++counters.frames;
            }
        stats.update(true, line, QStringLiteral("North Gate"), counters);
    }

    FakeClock clock;
    CallStats stats{clock.function()};
    LineCallRecord line;
    CallCounters counters;
};

TEST_F(CallStatsTest, ReceiveRateCoversTheLastTenSecondsAndItsShareOfTheLine) {
    for (int i = 0; i < 5; ++i)
        Second(4200); // a full 33.6 kbit/s line
    EXPECT_DOUBLE_EQ(stats.current().receiveRate, 4200);
    EXPECT_DOUBLE_EQ(stats.current().lineShare, 1.0);
    EXPECT_EQ(stats.current().elapsed, 5s);
    for (int i = 0; i < 10; ++i)
        Second(1050);
    // Only the last ten seconds count: the fast start is out of the window.
    EXPECT_DOUBLE_EQ(stats.current().receiveRate, 1050);
    EXPECT_DOUBLE_EQ(stats.current().lineShare, 0.25);
    Second(0);
    EXPECT_NEAR(stats.current().receiveRate, 945, 0.01);

    line.connectSpeed = 0;
    Second(0);
    EXPECT_LT(stats.current().lineShare, 0); // unknown without a CONNECT speed
}

TEST_F(CallStatsTest, ChannelsShowFramesPerMinuteAgeAndStallAndTheEndFreezesTheSummary) {
    for (int i = 0; i < 30; ++i)
        Second(100, {{1001, 1}, {1002, i % 2}}); // one a second, one every two seconds
    const auto& rows = stats.current().channels;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_DOUBLE_EQ(rows[0].framesPerMinute, 60);
    EXPECT_DOUBLE_EQ(rows[1].framesPerMinute, 30);
    EXPECT_EQ(rows[0].lastFrameBytes, 1000u);
    EXPECT_EQ(rows[0].age, 0ms);
    for (int i = 0; i < 60; ++i)
        Second(10, {{1001, 1}});
    EXPECT_TRUE(stats.current().channels[1].stalled);
    EXPECT_FALSE(stats.current().channels[0].stalled);
    EXPECT_EQ(stats.current().channels[1].age, 60s);
    EXPECT_DOUBLE_EQ(stats.current().channels[1].framesPerMinute, 0);

    // The call ends: the figures stay as they were, time stops.
    line.connectedFor = 90s;
    stats.update(false, line, {}, counters);
    clock.now += 1h;
    stats.update(false, line, {}, counters);
    EXPECT_FALSE(stats.current().live);
    EXPECT_TRUE(stats.current().any);
    EXPECT_EQ(stats.current().elapsed, 90s);
    EXPECT_EQ(stats.current().frames, 30u + 15u + 60u);

    // The next call starts from nothing.
    counters = CallCounters{};
    counters.started = clock.now;
    Second(10);
    EXPECT_TRUE(stats.current().live);
    EXPECT_TRUE(stats.current().channels.empty());
    EXPECT_EQ(stats.current().elapsed, 1s);
}

TEST(FrameAge, SteadyFramesNeverLookOldWhateverTheirPace) {
    for (auto interval : {500ms, 2000ms, 4900ms, 6000ms, 12000ms}) {
        SCOPED_TRACE(interval.count());
        ChannelCounters c;
        auto t = std::chrono::steady_clock::time_point{} + 1h;
        for (int frame = 0; frame < 20; ++frame) {
            c.countFrame(100, t);
            // Check every 100 ms up to (and just before) the next frame.
            for (auto at = 0ms; frame > 0 && at < interval; at += 100ms) {
                ASSERT_FALSE(FrameAge::oldPictureSeconds(c, t + at)) << at.count();
            }
            t += interval;
        }
    }
}

TEST(FrameAge, OldAfterFiveSecondsOrThreeIntervalsGoneWithTheNextFrameStalledAtSixty) {
    ChannelCounters c;
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    EXPECT_FALSE(FrameAge::oldPictureSeconds(c, t0 + 100s)); // no frame yet
    c.countFrame(100, t0);
    EXPECT_FALSE(FrameAge::oldPictureSeconds(c, t0 + 5s));
    EXPECT_EQ(FrameAge::oldPictureSeconds(c, t0 + 5100ms), 5);
    EXPECT_EQ(FrameAge::oldPictureSeconds(c, t0 + 14900ms), 14);

    c.countFrame(100, t0 + 15s); // the next frame: fresh again, interval now 15 s
    EXPECT_FALSE(FrameAge::oldPictureSeconds(c, t0 + 16s));
    EXPECT_EQ(FrameAge::threshold(c), 45s);
    EXPECT_FALSE(FrameAge::oldPictureSeconds(c, t0 + 15s + 45s));
    EXPECT_EQ(FrameAge::oldPictureSeconds(c, t0 + 15s + 46s), 46);

    EXPECT_FALSE(FrameAge::stalled(c, t0 + 15s + 59s));
    EXPECT_TRUE(FrameAge::stalled(c, t0 + 15s + 60s));
    EXPECT_FALSE(FrameAge::oldPictureSeconds(c, t0)); // a clock before the frame
}

// How the line's end and the connection's flags become the logged result.
TEST(CallEntryBuilder, OutcomesOfConnectedAndFailedCalls) {
    struct Case {
        bool connected;
        LineCallEnd end;
        bool siteAsked, rejected, noCodec;
        CallResult result;
        CallEndedBy endedBy;
    };
    const Case cases[] = {
        {false, LineCallEnd::Busy, false, false, false, CallResult::Busy, CallEndedBy::None},
        {false, LineCallEnd::NoAnswer, false, false, false, CallResult::NoAnswer, CallEndedBy::None},
        {false, LineCallEnd::NoDialTone, false, false, false, CallResult::NoDialTone, CallEndedBy::None},
        {false, LineCallEnd::Local, false, false, false, CallResult::NoCarrier, CallEndedBy::None},
        {false, LineCallEnd::Watchdog, false, false, false, CallResult::NoCarrier, CallEndedBy::Watchdog},
        // A failed call ignores the counters: they are the previous call's.
        {false, LineCallEnd::NoCarrier, true, true, true, CallResult::NoCarrier, CallEndedBy::None},
        {true, LineCallEnd::Local, false, false, false, CallResult::Connected, CallEndedBy::Operator},
        {true, LineCallEnd::Local, true, false, false, CallResult::Connected, CallEndedBy::SiteRequest},
        {true, LineCallEnd::FarEnd, true, false, false, CallResult::Connected, CallEndedBy::SiteRequest},
        {true, LineCallEnd::FarEnd, false, false, false, CallResult::Connected, CallEndedBy::FarEnd},
        {true, LineCallEnd::LineError, false, false, false, CallResult::Connected, CallEndedBy::LineError},
        {true, LineCallEnd::Local, false, true, false, CallResult::LoginRejected, CallEndedBy::None},
        {true, LineCallEnd::Local, false, false, true, CallResult::NoDecompressor, CallEndedBy::None},
    };
    for (const Case& c : cases) {
        LineCallRecord line;
        line.connected = c.connected;
        line.end = c.end;
        line.connectedFor = 3s;
        CallCounters counters;
        counters.siteAskedHangUp = c.siteAsked;
        counters.loginRejected = c.rejected;
        counters.noDecompressor = c.noCodec;
        counters.bytesIn = 77;
        const CallLogEntry e = buildCallLogEntry(line, counters, QStringLiteral("Gate"));
        SCOPED_TRACE(int(c.end) * 100 + c.connected * 10 + c.siteAsked);
        EXPECT_EQ(e.result, c.result);
        EXPECT_EQ(e.endedBy, c.endedBy);
        EXPECT_EQ(e.bytesIn, c.connected ? 77u : 0u);
        EXPECT_EQ(e.durationMs, c.connected ? 3000 : 0);
    }
}

} // namespace
