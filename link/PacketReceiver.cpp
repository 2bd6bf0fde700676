#include "link/PacketReceiver.h"

#include "link/Protocol.h"

#include <cstring>

PacketReceiver::PacketReceiver()
    : m_buffer(new uint8_t[Wire::kPacketBufferSize]()) {}

void PacketReceiver::reset() {
    m_held = 0;
    m_startFound = false;
    m_startPos = 0;
    m_endPos = 0;
    m_startScan = 0;
    m_endScan = 0;
    m_halted = false;
}

bool PacketReceiver::findStart() {
    const uint8_t* buf = m_buffer.get();
    size_t p = m_startScan;
    for (;;) {
        if (p + 3 > m_held) {
            m_startScan = p;
            return false;
        }
        const void* hit = std::memchr(buf + p, 'T', m_held - 2 - p);
        if (!hit) {
            m_startScan = m_held - 2;
            return false;
        }
        p = size_t(static_cast<const uint8_t*>(hit) - buf);
        if (buf[p + 1] != 'O' || buf[p + 2] != 'P') {
            ++p;
            continue;
        }
        if (p + Wire::kInboundHeaderSize > m_held) {
            m_startScan = p; // decided once the whole header is here
            return false;
        }
        if (buf[p + 3] == 0 && std::memcmp(buf + p + 20, "EOF", 4) == 0) {
            m_startFound = true;
            m_startPos = p;
            m_endScan = p;
            return true;
        }
        ++p;
    }
}

bool PacketReceiver::findEnd() {
    const uint8_t* buf = m_buffer.get();
    size_t p = m_endScan;
    for (;;) {
        if (p + 3 > m_held) {
            m_endScan = p;
            return false;
        }
        const void* hit = std::memchr(buf + p, 'E', m_held - 2 - p);
        if (!hit) {
            m_endScan = m_held - 2;
            return false;
        }
        p = size_t(static_cast<const uint8_t*>(hit) - buf);
        if (buf[p + 1] != 'N' || buf[p + 2] != 'D') {
            ++p;
            continue;
        }
        if (p + Wire::kTrailerSize > m_held) {
            m_endScan = p;
            return false;
        }
        if (buf[p + 3] == 0 && std::memcmp(buf + p + 4, "EOF", 4) == 0) {
            m_endPos = p;
            return true;
        }
        ++p;
    }
}

std::vector<uint8_t> PacketReceiver::ParseChunk(std::span<const uint8_t> chunk, PacketHandler& handler) {
    if (m_halted)
        return {};
    if (chunk.size() > Wire::kPacketBufferSize - m_held) {
        ++m_damaged;
        reset();
        return {};
    }
    if (!chunk.empty())
        std::memcpy(m_buffer.get() + m_held, chunk.data(), chunk.size());
    m_held += chunk.size();

    if (!m_startFound && !findStart())
        return {};
    if (!findEnd())
        return {};

    const uint8_t* header = m_buffer.get() + m_startPos;
    const int32_t length = readInt32(header + 16);
    const bool lengthPossible = length >= 0 && size_t(length) <= Wire::kMaxInboundPayload;
    if (!lengthPossible || m_endPos != m_startPos + Wire::kInboundHeaderSize + size_t(length)) {
        ++m_damaged;
        reset(); // damaged: everything held goes, including what followed
        return {};
    }

    InboundPacket packet;
    packet.type = header[4];
    packet.param1 = readInt32(header + 8);
    packet.param2 = readInt32(header + 12);
    packet.payload = {header + Wire::kInboundHeaderSize, size_t(length)};
    if (!handler.onPacket(packet)) {
        m_halted = true;
        return {};
    }

    std::vector<uint8_t> leftover;
    const size_t after = m_endPos + Wire::kTrailerSize;
    if (after < m_held)
        leftover.assign(m_buffer.get() + after, m_buffer.get() + m_held);
    reset();
    return leftover;
}
