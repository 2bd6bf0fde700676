#pragma once

// Packet framing of the site link, as the simulated site sees it.
//
// Both directions frame a packet as header, payload, trailer. A header starts
// with "TOP"+NUL and ends with "EOF"+NUL; the trailer is "END"+NUL "EOF"+NUL.
// The viewer's packets carry a 16-byte header (type at 4, length at 8); the
// site's packets carry a 24-byte header (type at 4, param1 at 8, param2 at 12,
// length at 16). All integers are 32-bit little-endian.
//
// PacketReader reassembles packets of either layout from chunks of any size.
// It is deliberately forgiving, as a site would be: bytes before a header are
// skipped, and a header whose trailer is not where its length says is dropped
// on its own (the search resumes one byte further), so later packets survive.
// Bytes are untrusted: lengths are bounded and nothing is read past the data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sitesim {

enum class Layout {
    Viewer, // viewer to site: 16-byte header
    Site,   // site to viewer: 24-byte header
};

constexpr size_t kViewerHeaderSize = 16;
constexpr size_t kSiteHeaderSize = 24;
constexpr size_t kTrailerSize = 8;
// The viewer's receive buffer holds 153,600 bytes, header and trailer included.
constexpr size_t kViewerReceiveLimit = 153600;
constexpr size_t kMaxSitePayload = kViewerReceiveLimit - kSiteHeaderSize - kTrailerSize;

// Packet types sent by the viewer.
enum ViewerType : uint8_t {
    Login = 0,
    OpenChannel = 1,
    CloseChannel = 2,
    FixChannel = 3,
    KeepAlive = 8,
    SiteInfoRequest = 9,
    CloseSite = 20,
    RebootSite = 21,
    RunProgram = 22,
};

// Packet types sent by the site.
enum SiteType : uint8_t {
    ChannelList = 0,
    VideoFrame = 1,
    ChannelPrompt = 2,
    LoginRejected = 3,
    LoginRequest = 4,
    ChannelClosed = 5,
    SiteInfo = 9,
    HangUpRequest = 20,
};

struct Packet {
    uint8_t type = 0;
    int32_t param1 = 0; // site layout only
    int32_t param2 = 0; // site layout only
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> encodeSitePacket(uint8_t type, int32_t param1, int32_t param2,
                                      std::span<const uint8_t> payload = {});
std::vector<uint8_t> encodeViewerPacket(uint8_t type, std::span<const uint8_t> payload = {});
// A packet with a 4-byte payload holding `value`.
std::vector<uint8_t> encodeViewerValue(uint8_t type, int32_t value);

// Name of a packet type for logs; "unknown" when the type has none.
const char* viewerTypeName(uint8_t type);
const char* siteTypeName(uint8_t type);

int32_t readLe32(const uint8_t* p);
void writeLe32(uint8_t* p, int32_t value);

// A NUL-terminated text inside a fixed-width field; a field without NUL yields
// all its bytes.
std::string fieldText(std::span<const uint8_t> field);

class PacketReader {
public:
    explicit PacketReader(Layout layout, size_t maxPayload = 1 << 20);

    void feed(std::span<const uint8_t> bytes);
    // The next complete packet, or nothing until more bytes arrive.
    std::optional<Packet> next();

    // Bytes skipped so far: garbage between packets and dropped headers.
    size_t skippedBytes() const { return m_skipped; }
    size_t heldBytes() const { return m_buffer.size() - m_start; }
    void clear();

private:
    void compact();

    Layout m_layout;
    size_t m_headerSize;
    size_t m_lengthOffset;
    size_t m_maxPayload;
    std::vector<uint8_t> m_buffer;
    size_t m_start = 0; // bytes before this are consumed
    size_t m_skipped = 0;
};

} // namespace sitesim
