#pragma once

// Reassembles packets from the site out of chunks of any size and hands each
// complete packet to a handler.
//
// Chunks are appended to one packet buffer of 153,600 bytes. A header is the
// first "TOP\0" whose "EOF\0" lies 20 bytes further; bytes before it are
// skipped. The trailer is the first "END\0EOF\0" from the header on, even inside
// the payload. A packet is accepted only when its trailer lies exactly where
// the header's length puts it; otherwise every held byte is dropped. A chunk
// that would overflow the buffer is dropped together with everything held.
// After a packet the bytes that followed its trailer are returned to the
// caller, who puts them at the head of its receive queue, and the buffer is
// emptied.
//
// Each search resumes where the previous one stopped: a position once rejected
// stays rejected because held bytes never change, so a packet arriving in
// 1-byte chunks costs linear time and the result equals a rescan from the
// start.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct InboundPacket {
    uint8_t type = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    std::span<const uint8_t> payload; // valid only during the handler call
};

class PacketHandler {
public:
    virtual ~PacketHandler() = default;
    // Handles one packet. Returning false halts the receiver: the packet stays
    // held, nothing is returned for the bytes after it and later chunks are
    // ignored until reset() (the call is being dropped).
    virtual bool onPacket(const InboundPacket& packet) = 0;
};

class PacketReceiver {
public:
    PacketReceiver();

    // Forgets every held byte and any found header or trailer; un-halts.
    void reset();

    // Takes one chunk. Returns the bytes that followed a dispatched packet's
    // trailer (empty when none), to be parsed next.
    std::vector<uint8_t> ParseChunk(std::span<const uint8_t> chunk, PacketHandler& handler);

    size_t held() const { return m_held; }
    bool startFound() const { return m_startFound; }
    bool halted() const { return m_halted; }
    // Packets dropped as damaged (wrong length, overflowing chunk) since
    // construction; reset() leaves the count alone.
    uint64_t damaged() const { return m_damaged; }

private:
    bool findStart();
    bool findEnd();

    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_held = 0;
    bool m_startFound = false;
    size_t m_startPos = 0;
    size_t m_endPos = 0;
    size_t m_startScan = 0; // first position not yet ruled out as a header
    size_t m_endScan = 0;   // first position not yet ruled out as a trailer
    bool m_halted = false;
    uint64_t m_damaged = 0;
};
