#include "tools/sitesim/SiteFraming.h"

#include <algorithm>
#include <cstring>

namespace sitesim {

namespace {

constexpr uint8_t kTop[4] = {'T', 'O', 'P', 0};
constexpr uint8_t kEof[4] = {'E', 'O', 'F', 0};
constexpr uint8_t kTrailer[8] = {'E', 'N', 'D', 0, 'E', 'O', 'F', 0};

bool matches(const uint8_t* p, const uint8_t* marker, size_t n) {
    return std::memcmp(p, marker, n) == 0;
}

} // namespace

int32_t readLe32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void writeLe32(uint8_t* p, int32_t value) {
    const auto v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

std::string fieldText(std::span<const uint8_t> field) {
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return std::string(field.begin(), end);
}

std::vector<uint8_t> encodeSitePacket(uint8_t type, int32_t param1, int32_t param2,
                                      std::span<const uint8_t> payload) {
    std::vector<uint8_t> out(kSiteHeaderSize + payload.size() + kTrailerSize, 0);
    std::memcpy(out.data(), kTop, 4);
    out[4] = type;
    writeLe32(out.data() + 8, param1);
    writeLe32(out.data() + 12, param2);
    writeLe32(out.data() + 16, int32_t(payload.size()));
    std::memcpy(out.data() + 20, kEof, 4);
    if (!payload.empty())
        std::memcpy(out.data() + kSiteHeaderSize, payload.data(), payload.size());
    std::memcpy(out.data() + kSiteHeaderSize + payload.size(), kTrailer, kTrailerSize);
    return out;
}

std::vector<uint8_t> encodeViewerPacket(uint8_t type, std::span<const uint8_t> payload) {
    std::vector<uint8_t> out(kViewerHeaderSize + payload.size() + kTrailerSize, 0);
    std::memcpy(out.data(), kTop, 4);
    out[4] = type;
    writeLe32(out.data() + 8, int32_t(payload.size()));
    std::memcpy(out.data() + 12, kEof, 4);
    if (!payload.empty())
        std::memcpy(out.data() + kViewerHeaderSize, payload.data(), payload.size());
    std::memcpy(out.data() + kViewerHeaderSize + payload.size(), kTrailer, kTrailerSize);
    return out;
}

std::vector<uint8_t> encodeViewerValue(uint8_t type, int32_t value) {
    uint8_t payload[4];
    writeLe32(payload, value);
    return encodeViewerPacket(type, payload);
}

const char* viewerTypeName(uint8_t type) {
    switch (type) {
    case Login:
        return "Login";
    case OpenChannel:
        return "OpenChannel";
    case CloseChannel:
        return "CloseChannel";
    case FixChannel:
        return "FixChannel";
    case KeepAlive:
        return "KeepAlive";
    case SiteInfoRequest:
        return "SiteInfoRequest";
    case CloseSite:
        return "CloseSite";
    case RebootSite:
        return "RebootSite";
    case RunProgram:
        return "RunProgram";
    default:
        return "unknown";
    }
}

const char* siteTypeName(uint8_t type) {
    switch (type) {
    case ChannelList:
        return "ChannelList";
    case VideoFrame:
        return "VideoFrame";
    case ChannelPrompt:
        return "ChannelPrompt";
    case LoginRejected:
        return "LoginRejected";
    case LoginRequest:
        return "LoginRequest";
    case ChannelClosed:
        return "ChannelClosed";
    case SiteInfo:
        return "SiteInfo";
    case HangUpRequest:
        return "HangUpRequest";
    default:
        return "unknown";
    }
}

PacketReader::PacketReader(Layout layout, size_t maxPayload)
    : m_layout(layout)
    , m_headerSize(layout == Layout::Viewer ? kViewerHeaderSize : kSiteHeaderSize)
    , m_lengthOffset(layout == Layout::Viewer ? 8 : 16)
    , m_maxPayload(maxPayload) {}

void PacketReader::feed(std::span<const uint8_t> bytes) {
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

void PacketReader::clear() {
    m_buffer.clear();
    m_start = 0;
}

void PacketReader::compact() {
    if (m_start == 0)
        return;
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_start));
    m_start = 0;
}

std::optional<Packet> PacketReader::next() {
    const size_t eofOffset = m_headerSize - 4;
    for (;;) {
        const size_t held = m_buffer.size() - m_start;
        const uint8_t* base = m_buffer.data() + m_start;
        // Find the next "TOP"+NUL; keep up to three bytes that may begin one.
        size_t pos = 0;
        while (pos + 4 <= held && !matches(base + pos, kTop, 4))
            ++pos;
        if (pos + 4 > held) {
            const size_t keep = std::min<size_t>(held, 3);
            m_skipped += held - keep;
            m_start += held - keep;
            compact();
            return std::nullopt;
        }
        m_skipped += pos;
        m_start += pos;
        base += pos;
        const size_t avail = held - pos;
        if (avail < m_headerSize) {
            compact();
            return std::nullopt;
        }
        const int32_t length = readLe32(base + m_lengthOffset);
        const bool headerOk =
            matches(base + eofOffset, kEof, 4) && length >= 0 && size_t(length) <= m_maxPayload;
        if (!headerOk) {
            ++m_skipped;
            ++m_start;
            continue;
        }
        const size_t total = m_headerSize + size_t(length) + kTrailerSize;
        if (avail < total) {
            compact();
            return std::nullopt;
        }
        if (!matches(base + m_headerSize + size_t(length), kTrailer, kTrailerSize)) {
            ++m_skipped;
            ++m_start;
            continue;
        }
        Packet packet;
        packet.type = base[4];
        if (m_layout == Layout::Site) {
            packet.param1 = readLe32(base + 8);
            packet.param2 = readLe32(base + 12);
        }
        packet.payload.assign(base + m_headerSize, base + m_headerSize + length);
        m_start += total;
        if (m_start == m_buffer.size())
            clear();
        return packet;
    }
}

} // namespace sitesim
