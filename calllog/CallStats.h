#pragma once

// The figures of the call panel, recomputed once a second from the
// connection's counters (CallCounters) and the line's view of the call.
//
// How it works: Update takes the counters of the moment with the time of an
// injected clock and keeps a short history of samples: the receive rate is
// the bytes received over the last 10 s (over the call so far while it is
// younger), a channel's frames per minute the frames over the last 60 s. When
// the call ends, the figures freeze at that moment and stay as the last
// call's summary until the next call starts (a new start time in the
// counters). Nothing here touches a widget.

#include "link/CallCounters.h"
#include "link/LineCallRecord.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class CallStats {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using TimePoint = std::chrono::steady_clock::time_point;

    static constexpr std::chrono::seconds kRateWindow{10};
    static constexpr std::chrono::seconds kFrameRateWindow{60};

    struct ChannelRow {
        int32_t channel = 0;
        uint64_t frames = 0;
        double framesPerMinute = 0;
        uint64_t lastFrameBytes = 0;
        std::chrono::milliseconds age{0}; // since the last frame
        bool stalled = false;
    };

    struct Figures {
        bool any = false;  // a call has been seen
        bool live = false; // the call is up now
        bool answered = false;
        QString site; // phone-book name, number or the site's own name
        QString modem;
        uint32_t connectSpeed = 0; // bits per second; 0 unknown
        std::chrono::milliseconds elapsed{0};
        uint64_t bytesIn = 0;
        uint64_t bytesOut = 0;
        double receiveRate = 0; // bytes per second over the rate window
        double lineShare = -1;  // receiveRate as a share of the line's speed; < 0 unknown
        uint64_t damagedPackets = 0;
        uint64_t frames = 0;
        std::vector<ChannelRow> channels;
    };

    explicit CallStats(Clock clock);

    // `live`: the connection runs now. `line`: the running (or last) attempt;
    // `site` the name to show for it.
    void update(bool live, const LineCallRecord& line, const QString& site, const CallCounters& counters);
    const Figures& current() const { return m_figures; }

private:
    struct Sample {
        TimePoint at;
        uint64_t value;
    };
    // Adds (now, value), drops samples older than the window except the one
    // the window starts from, returns the rate per second over the kept span.
    static double rate(std::deque<Sample>& history, TimePoint now, uint64_t value,
                       std::chrono::seconds window);

    Clock m_clock;
    Figures m_figures;
    TimePoint m_callStart{};
    bool m_seen = false;
    bool m_frozen = false;
    std::deque<Sample> m_bytes;
    std::map<int32_t, std::deque<Sample>> m_channelFrames; // by stream key
};
