#pragma once

// What the connection counts during one call, for the call panel and the call
// log. Counted on the user-interface thread where the connection already
// handles the bytes, frames and packets, so the serial threads take no part
// and nothing here needs a lock. The counters of the last call stay readable
// after it ended, until the next call starts.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct ChannelCounters {
    using TimePoint = std::chrono::steady_clock::time_point;

    int32_t channel = 0;
    int32_t streamKey = 0;
    uint64_t frames = 0;
    uint64_t lastFrameBytes = 0;
    TimePoint firstFrame{};
    TimePoint lastFrame{};
    // A smoothed interval between this stream's frames; zero until the second frame.
    std::chrono::milliseconds recentInterval{0};

    // Counts one frame of `bytes` that arrived at `now`.
    void countFrame(uint64_t bytes, TimePoint now) {
        if (frames == 0) {
            firstFrame = now;
        } else {
            const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastFrame);
            // A quarter of each new gap: one late frame moves the estimate,
            // a changed rate takes over within a few frames.
            recentInterval = recentInterval.count() == 0 ? gap : (recentInterval * 3 + gap) / 4;
        }
        ++frames;
        lastFrameBytes = bytes;
        lastFrame = now;
    }
};

struct CallCounters {
    // Streams counted per call; a site cannot make the list grow past this.
    static constexpr size_t kMaxChannels = 64;

    bool answered = false;
    std::chrono::steady_clock::time_point started{};
    uint64_t bytesIn = 0;  // bytes taken by the packet receiver
    uint64_t bytesOut = 0; // bytes queued for sending
    uint64_t frames = 0;   // frames shown in a channel window
    uint64_t damagedPackets = 0;
    uint32_t clipsRecorded = 0;
    std::string siteName; // from the site's identity record, when it sent one
    bool eventFiled = false;
    // How the connection saw the call end, when it did.
    bool siteAskedHangUp = false;
    bool loginRejected = false;
    bool noDecompressor = false;
    std::vector<ChannelCounters> channels; // in order of first frame

    // The stream's counters; created on first use, null once the list is full.
    ChannelCounters* Channel(int32_t channel, int32_t streamKey) {
        for (ChannelCounters& c : channels)
            if (c.streamKey == streamKey)
                return &c;
        if (channels.size() >= kMaxChannels)
            return nullptr;
        channels.push_back(ChannelCounters{channel, streamKey});
        return &channels.back();
    }
};
