#pragma once

// The packet format spoken with a remote site over the call's byte stream.
//
// Every packet is a header, a payload and an 8-byte trailer ("END\0EOF\0").
// Packets to the site have a 16-byte header: "TOP\0", the type byte, three zero
// bytes, the payload length, "EOF\0". Packets from the site have a 24-byte
// header: "TOP\0", the type byte, three ignored bytes, param1, param2, the
// payload length, "EOF\0". Integers are 32-bit little-endian and signed; text
// fields are NUL-padded inside fixed widths. There is no checksum or escaping:
// the receiver (PacketReceiver) finds packets by their markers.
//
// This header holds the constants, the outbound encoders and the decoders of
// the inbound payloads. Decoders treat their input as untrusted and never read
// beyond it.

#include "app/core/ChannelTable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Wire {

inline constexpr size_t kOutboundHeaderSize = 16;
inline constexpr size_t kInboundHeaderSize = 24;
inline constexpr size_t kTrailerSize = 8;
// The receiver's packet buffer: the most a packet and the bytes before it may take.
inline constexpr size_t kPacketBufferSize = 153600;
inline constexpr size_t kMaxInboundPayload = kPacketBufferSize - kInboundHeaderSize - kTrailerSize;

inline constexpr size_t kLoginRecordSize = 48;
inline constexpr size_t kLoginTextField = 20;
inline constexpr size_t kSiteRecordSize = 300;

// Credentials a site expects when it called us.
inline constexpr std::string_view kAnsweredUser = "Rav-Lookout";
inline constexpr std::string_view kAnsweredPassword = "Q-Lynx";

inline constexpr int32_t kDefaultQuality = 30;

} // namespace Wire

enum class OutboundType : uint8_t {
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

enum class InboundType : uint8_t {
    ChannelList = 0,
    VideoFrame = 1,
    ChannelPrompt = 2,
    LoginRejected = 3,
    LoginRequest = 4,
    ChannelClosed = 5,
    SiteInfo = 9,
    HangUpRequest = 20,
};

// Permission bits of a channel list's param2.
enum ChannelPermission : int32_t {
    kMayOpenChannels = 1 << 0,
    kMayCloseChannels = 1 << 1,
};

// Where outbound byte blocks go; each block is written whole and in order.
class PacketQueue {
public:
    virtual ~PacketQueue() = default;
    virtual void queueBlock(std::vector<uint8_t> block) = 0;
};

// Queues one packet as three blocks: header, payload (left out when empty),
// trailer. Callers queue a packet's blocks in a row on one thread, so no other
// packet's bytes come between them.
void QueuePacket(PacketQueue& queue, OutboundType type, std::span<const uint8_t> payload);
// A packet whose payload is one integer.
void SendValue(PacketQueue& queue, OutboundType type, int32_t value);

int32_t readInt32(const uint8_t* p);
void writeInt32(uint8_t* p, int32_t value);

// What goes into a login record.
struct LoginValues {
    std::string user;
    std::string password;
    int32_t formatSize = 1; // 1: 320 x 240, anything else: 160 x 120
    int32_t quality = Wire::kDefaultQuality;
};

// The 48-byte login record: user and password NUL-padded in 20 bytes each (a
// 20-byte text has no terminator; longer texts are cut to 20), the image size
// flag (1 when formatSize is 1, else 0) and the quality (30 when outside 0..100).
std::array<uint8_t, Wire::kLoginRecordSize> buildLoginRecord(const LoginValues& values);

// The entries of a channel list payload: `count` 36-byte records, but never
// more than the payload holds whole (none for a negative count). Names end at
// their NUL or at the field's end. Entries numbered 0 or below are kept here;
// the channel table drops them.
std::vector<ChannelEntry> parseChannelList(int32_t count, std::span<const uint8_t> payload);

// A site record of exactly 300 bytes: the payload's first 300 bytes,
// zero-filled when it is shorter.
std::array<uint8_t, Wire::kSiteRecordSize> siteRecordFromPayload(std::span<const uint8_t> payload);
