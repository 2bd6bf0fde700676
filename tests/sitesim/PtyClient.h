#pragma once

// Test helper: the program's end of the simulator's pseudo-terminal. Opens
// the published path raw, writes text or packets, and reads with time limits,
// either as text (modem responses) or as site packets.

#include "tools/sitesim/SiteFraming.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

class PtyClient {
public:
    explicit PtyClient(const std::string& path);
    ~PtyClient();
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    void write(std::string_view text);
    void write(const std::vector<uint8_t>& bytes);

    // Reads until the received text contains `pattern`; returns everything
    // received since the last call (whether or not the pattern came).
    std::string readUntil(const std::string& pattern, std::chrono::milliseconds timeout);
    // Reads for the whole duration; returns the number of bytes received.
    size_t drainFor(std::chrono::milliseconds duration);
    // The next site packet, or nothing after the timeout.
    std::optional<sitesim::Packet> nextPacket(std::chrono::milliseconds timeout);
    // The next site packet of `type`, skipping others.
    std::optional<sitesim::Packet> nextPacketOfType(uint8_t type, std::chrono::milliseconds timeout);
    // True once the far end has gone (read gives EIO or poll reports POLLHUP).
    bool waitForHangUp(std::chrono::milliseconds timeout);

private:
    // One poll and read; false on timeout or hang-up.
    bool readSome(std::chrono::milliseconds timeout, std::string& into);

    int m_fd = -1;
    bool m_hungUp = false;
    std::string m_text;
    sitesim::PacketReader m_reader{sitesim::Layout::Site};
};
