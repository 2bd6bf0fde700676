#include "calllog/CallStats.h"

#include "calllog/FrameAge.h"

CallStats::CallStats(Clock clock)
    : m_clock(std::move(clock)) {}

double CallStats::rate(std::deque<Sample>& history, TimePoint now, uint64_t value,
                       std::chrono::seconds window) {
    history.push_back({now, value});
    // Keep one sample at or before the window's start: the rate's base.
    while (history.size() > 2 && history[1].at <= now - window)
        history.pop_front();
    const Sample& base = history.front();
    const double seconds = std::chrono::duration<double>(now - base.at).count();
    if (seconds <= 0 || value < base.value)
        return 0;
    return double(value - base.value) / seconds;
}

void CallStats::update(bool live, const LineCallRecord& line, const QString& site,
                       const CallCounters& counters) {
    if (!live) {
        if (m_seen && !m_frozen) {
            // The call just ended: take its final counters once, then keep them.
            m_frozen = true;
            m_figures.live = false;
            m_figures.bytesIn = counters.bytesIn;
            m_figures.bytesOut = counters.bytesOut;
            m_figures.frames = counters.frames;
            m_figures.damagedPackets = counters.damagedPackets;
            m_figures.elapsed =
                line.connectedFor.count() > 0
                    ? line.connectedFor
                    : std::chrono::duration_cast<std::chrono::milliseconds>(m_clock() - m_callStart);
            for (ChannelRow& row : m_figures.channels)
                row.age = std::chrono::milliseconds(0);
        }
        return;
    }
    const TimePoint now = m_clock();
    if (!m_seen || m_frozen || counters.started != m_callStart) {
        m_seen = true;
        m_frozen = false;
        m_callStart = counters.started;
        m_bytes.assign(1, Sample{m_callStart, 0});
        m_channelFrames.clear();
        m_figures = Figures{};
    }
    Figures& f = m_figures;
    f.any = true;
    f.live = true;
    f.answered = counters.answered;
    f.site = site;
    f.modem = line.modem;
    f.connectSpeed = line.connectSpeed;
    f.elapsed = now > m_callStart ? std::chrono::duration_cast<std::chrono::milliseconds>(now - m_callStart)
                                  : std::chrono::milliseconds(0);
    f.bytesIn = counters.bytesIn;
    f.bytesOut = counters.bytesOut;
    f.receiveRate = rate(m_bytes, now, counters.bytesIn, kRateWindow);
    // Bytes carry 8 data bits over the modem's error-corrected link.
    f.lineShare = f.connectSpeed > 0 ? f.receiveRate * 8.0 / double(f.connectSpeed) : -1.0;
    f.damagedPackets = counters.damagedPackets;
    f.frames = counters.frames;

    f.channels.clear();
    for (const ChannelCounters& c : counters.channels) {
        auto [it, added] = m_channelFrames.try_emplace(c.streamKey);
        if (added)
            it->second.push_back(Sample{m_callStart, 0});
        ChannelRow row;
        row.channel = c.channel;
        row.frames = c.frames;
        row.framesPerMinute = rate(it->second, now, c.frames, kFrameRateWindow) * 60.0;
        row.lastFrameBytes = c.lastFrameBytes;
        if (c.frames > 0 && now > c.lastFrame)
            row.age = std::chrono::duration_cast<std::chrono::milliseconds>(now - c.lastFrame);
        row.stalled = FrameAge::stalled(c, now);
        f.channels.push_back(row);
    }
}
