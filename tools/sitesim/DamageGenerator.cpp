#include "tools/sitesim/DamageGenerator.h"

#include "platform/dib/PackedDib.h"
#include "tools/sitesim/SiteFraming.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace sitesim {

namespace {

constexpr uint8_t kTrailer[kTrailerSize] = {'E', 'N', 'D', 0, 'E', 'O', 'F', 0};
constexpr size_t kLengthOffset = 16;
// Offsets inside the bitmap header that starts a frame's payload.
constexpr size_t kDibWidth = 4;
constexpr size_t kDibHeight = 8;
constexpr size_t kDibBitCount = 14;
constexpr size_t kDibCompression = 16;
constexpr size_t kDibSizeImage = 20;
constexpr size_t kDibClrUsed = 32;
constexpr size_t kDibSize = 40;

// Pieces of markers that make garbage look almost like packets.
constexpr std::string_view kMarkerPieces[] = {
    {"TOP", 3}, {"TOP\0", 4}, {"END\0", 4}, {"EOF\0", 4}, {"END\0EOF\0", 8}, {"TO", 2},
};

// One site packet whose length field agrees with its trailer.
bool isWellFormed(std::span<const uint8_t> p) {
    if (p.size() < kSiteHeaderSize + kTrailerSize || std::memcmp(p.data(), "TOP", 4) != 0 ||
        std::memcmp(p.data() + 20, "EOF", 4) != 0)
        return false;
    const int64_t length = readLe32(p.data() + kLengthOffset);
    return length == int64_t(p.size() - kSiteHeaderSize - kTrailerSize) &&
           std::memcmp(p.data() + p.size() - kTrailerSize, kTrailer, kTrailerSize) == 0;
}

// A well-formed video frame with at least a bitmap header: what damage works on.
bool isFrame(std::span<const uint8_t> p) {
    return isWellFormed(p) && p[4] == VideoFrame && p.size() >= kSiteHeaderSize + kDibSize + kTrailerSize;
}

void putLe32(std::vector<uint8_t>& bytes, size_t at, int64_t value) {
    writeLe32(bytes.data() + at, int32_t(uint32_t(value)));
}

} // namespace

const char* damageKindName(DamageKind kind) {
    switch (kind) {
    case DamageKind::Garbage:
        return "garbage";
    case DamageKind::HeaderFlip:
        return "header-flip";
    case DamageKind::BodyFlip:
        return "body-flip";
    case DamageKind::Oversized:
        return "oversized";
    case DamageKind::LyingLength:
        return "lying-length";
    case DamageKind::Truncated:
        return "truncated";
    case DamageKind::BadImageSize:
        return "bad-image-size";
    case DamageKind::UnknownType:
        return "unknown-type";
    case DamageKind::Burst:
        return "burst";
    case DamageKind::NewStreamKeys:
        return "new-stream-keys";
    case DamageKind::RepeatedPrompts:
        return "repeated-prompts";
    case DamageKind::RepeatedRejections:
        return "repeated-rejections";
    case DamageKind::RepeatedSiteRecords:
        return "repeated-site-records";
    }
    return "?";
}

std::optional<DamageKind> parseFloodKind(std::string_view name) {
    for (size_t i = kRandomDamageKinds; i < kDamageKinds; ++i) {
        if (name == damageKindName(DamageKind(i)))
            return DamageKind(i);
    }
    return std::nullopt;
}

DamageGenerator::DamageGenerator(uint64_t seed, double rate)
    : m_seed(seed)
    , m_state(seed)
    , m_rate(std::clamp(rate, 0.0, 1.0)) {}

// splitmix64: small, fast and the same on every platform (the standard
// distributions are not), so a seed replays the same damage everywhere.
uint64_t DamageGenerator::next() {
    uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

uint64_t DamageGenerator::below(uint64_t n) {
    return n == 0 ? 0 : next() % n;
}

bool DamageGenerator::chance(double p) {
    return double(next() >> 11) * 0x1.0p-53 < p;
}

std::vector<uint8_t> DamageGenerator::apply(std::span<const uint8_t> packet) {
    m_last.clear();
    std::vector<uint8_t> out;
    const bool wellFormed = isWellFormed(packet);
    const bool frame = isFrame(packet);
    const bool spare = !frame || m_spareNextFrame;
    if (spare) {
        // Make sure no unfinished hostile header swallows this packet.
        if (m_dirty) {
            out.assign(kSiteHeaderSize, 0);
            out.insert(out.end(), std::begin(kTrailer), std::end(kTrailer));
            out.resize(kFlushSize, 0);
            m_dirty = false;
        }
        if (frame)
            m_spareNextFrame = false;
        else if (wellFormed && packet[4] == ChannelList)
            m_spareNextFrame = true;
        out.insert(out.end(), packet.begin(), packet.end());
    } else if (chance(m_rate)) {
        out = damage(m_flood ? *m_flood : DamageKind(below(kRandomDamageKinds)), packet);
        m_dirty = true;
    } else {
        out.assign(packet.begin(), packet.end());
    }
    return out;
}

void DamageGenerator::count(DamageKind kind) {
    m_last.push_back(kind);
    ++m_counts[size_t(kind)];
}

std::vector<uint8_t> DamageGenerator::damage(DamageKind kind, std::span<const uint8_t> frame) {
    m_last.clear();
    std::vector<uint8_t> out;
    if (!isFrame(frame)) {
        out.assign(frame.begin(), frame.end());
        return out;
    }
    count(kind);
    std::vector<uint8_t> copy(frame.begin(), frame.end());
    switch (kind) {
    case DamageKind::Garbage:
        appendGarbage(out, 256);
        break;
    case DamageKind::HeaderFlip:
        flipHeader(copy);
        break;
    case DamageKind::BodyFlip:
        flipBody(copy);
        break;
    case DamageKind::Oversized:
        appendOversized(out, true);
        break;
    case DamageKind::LyingLength:
        lieAboutLength(copy);
        break;
    case DamageKind::Truncated:
        truncate(copy);
        break;
    case DamageKind::BadImageSize:
        breakImageSize(copy);
        break;
    case DamageKind::UnknownType:
        appendUnknownType(out);
        break;
    case DamageKind::Burst: {
        static constexpr DamageKind kPieces[] = {DamageKind::Garbage,     DamageKind::HeaderFlip,
                                                 DamageKind::Oversized,   DamageKind::Truncated,
                                                 DamageKind::LyingLength, DamageKind::UnknownType};
        for (uint64_t n = 3 + below(8); n > 0; --n) {
            const DamageKind piece = kPieces[below(std::size(kPieces))];
            count(piece);
            std::vector<uint8_t> damaged(frame.begin(), frame.end());
            if (piece == DamageKind::Garbage)
                appendGarbage(out, 512);
            else if (piece == DamageKind::Oversized)
                appendOversized(out, false);
            else if (piece == DamageKind::UnknownType)
                appendUnknownType(out);
            else {
                if (piece == DamageKind::HeaderFlip)
                    flipHeader(damaged);
                else if (piece == DamageKind::Truncated)
                    truncate(damaged);
                else
                    lieAboutLength(damaged);
                out.insert(out.end(), damaged.begin(), damaged.end());
            }
        }
        break;
    }
    case DamageKind::NewStreamKeys:
    case DamageKind::RepeatedPrompts:
    case DamageKind::RepeatedRejections:
    case DamageKind::RepeatedSiteRecords:
        appendFlood(out, kind, frame);
        break;
    }
    out.insert(out.end(), copy.begin(), copy.end());
    return out;
}

void DamageGenerator::appendFlood(std::vector<uint8_t>& out, DamageKind kind,
                                  std::span<const uint8_t> frame) {
    const std::span<const uint8_t> payload =
        frame.subspan(kSiteHeaderSize, frame.size() - kSiteHeaderSize - kTrailerSize);
    std::vector<uint8_t> record(300, ' ');
    for (int i = 0; i < kFloodCount; ++i) {
        std::vector<uint8_t> packet;
        switch (kind) {
        case DamageKind::NewStreamKeys:
            packet = encodeSitePacket(VideoFrame, readLe32(frame.data() + 8), m_nextFloodKey++, payload);
            break;
        case DamageKind::RepeatedPrompts:
            packet = encodeSitePacket(ChannelPrompt, 0, 0, {});
            break;
        case DamageKind::RepeatedRejections:
            packet = encodeSitePacket(LoginRejected, 0, 0, {});
            break;
        default: {
            const std::string name = "Flood " + std::to_string(next() % 100000);
            std::fill(record.begin(), record.end(), uint8_t(0));
            std::copy(name.begin(), name.end(), record.begin());
            packet = encodeSitePacket(SiteInfo, 0, 0, record);
            break;
        }
        }
        out.insert(out.end(), packet.begin(), packet.end());
    }
}

void DamageGenerator::appendGarbage(std::vector<uint8_t>& out, size_t maxLength) {
    const size_t end = out.size() + 1 + below(maxLength);
    while (out.size() < end) {
        if (below(16) == 0) {
            const std::string_view piece = kMarkerPieces[below(std::size(kMarkerPieces))];
            out.insert(out.end(), piece.begin(), piece.end());
        } else {
            out.push_back(uint8_t(next()));
        }
    }
}

void DamageGenerator::appendOversized(std::vector<uint8_t>& out, bool mayFlood) {
    static constexpr int64_t kLengths[] = {int64_t(kMaxSitePayload) + 1, 1 << 20, INT32_MAX, -1, INT32_MIN};
    const size_t at = out.size();
    out.resize(at + kSiteHeaderSize, 0);
    std::memcpy(out.data() + at, "TOP", 4);
    out[at + 4] = VideoFrame;
    putLe32(out, at + 8, int64_t(next()));
    putLe32(out, at + 12, int64_t(next()));
    const int64_t length = below(4) == 0 ? int64_t(kMaxSitePayload) + 1 + int64_t(below(1u << 30))
                                         : kLengths[below(std::size(kLengths))];
    putLe32(out, at + kLengthOffset, length);
    std::memcpy(out.data() + at + 20, "EOF", 4);
    // Now and then more than the viewer's whole receive buffer, by more than
    // one read, so that the overflow ends inside these bytes.
    const size_t body = mayFlood && below(8) == 0 ? kViewerReceiveLimit + 2048 + below(6144) : below(2048);
    for (size_t i = 0; i < body; ++i)
        out.push_back(uint8_t(next()));
    if (below(2) == 0)
        out.insert(out.end(), std::begin(kTrailer), std::end(kTrailer));
}

void DamageGenerator::appendUnknownType(std::vector<uint8_t>& out) {
    static constexpr uint8_t kKnown[] = {ChannelList,  VideoFrame,    ChannelPrompt, LoginRejected,
                                         LoginRequest, ChannelClosed, SiteInfo,      HangUpRequest};
    uint8_t type = 0;
    do {
        type = uint8_t(next());
    } while (std::find(std::begin(kKnown), std::end(kKnown), type) != std::end(kKnown));
    std::vector<uint8_t> payload(below(65));
    for (uint8_t& b : payload)
        b = uint8_t(next());
    const std::vector<uint8_t> packet = encodeSitePacket(type, int32_t(next()), int32_t(next()), payload);
    out.insert(out.end(), packet.begin(), packet.end());
}

void DamageGenerator::flipHeader(std::vector<uint8_t>& frame) {
    // The markers, the length field and the trailer: never the type or the
    // parameters, so a flip can never turn a frame into another command.
    std::vector<size_t> framing = {0, 1, 2, 3, 16, 17, 18, 19, 20, 21, 22, 23};
    for (size_t i = frame.size() - kTrailerSize; i < frame.size(); ++i)
        framing.push_back(i);
    for (uint64_t n = 1 + below(3); n > 0; --n) {
        const size_t pick = size_t(below(framing.size()));
        frame[framing[pick]] ^= uint8_t(1 + below(255));
        framing.erase(framing.begin() + std::ptrdiff_t(pick)); // flips never cancel out
    }
}

void DamageGenerator::flipBody(std::vector<uint8_t>& frame) {
    const size_t end = frame.size() - kTrailerSize;
    const uint64_t colours = uint32_t(readLe32(frame.data() + kSiteHeaderSize + kDibClrUsed));
    size_t begin = kSiteHeaderSize + kDibSize;
    if (colours < end && begin + 4 * colours < end)
        begin += size_t(4 * colours);
    if (begin >= end)
        begin = kSiteHeaderSize;
    // Distinct places, so that flips never cancel out.
    std::vector<size_t> places;
    for (uint64_t n = std::min<uint64_t>(1 + below(16), end - begin); places.size() < n;) {
        const size_t at = begin + size_t(below(end - begin));
        if (std::find(places.begin(), places.end(), at) == places.end())
            places.push_back(at);
    }
    for (const size_t at : places)
        frame[at] ^= uint8_t(1 + below(255));
}

void DamageGenerator::lieAboutLength(std::vector<uint8_t>& frame) {
    const int64_t length = int64_t(frame.size() - kSiteHeaderSize - kTrailerSize);
    const int64_t lies[] = {length + 1 + int64_t(below(64)), length - 1 - int64_t(below(64)), length * 2,
                            length / 2, 0};
    int64_t lie = length;
    while (lie == length || lie < 0)
        lie = lies[below(std::size(lies))];
    putLe32(frame, kLengthOffset, lie);
}

void DamageGenerator::truncate(std::vector<uint8_t>& frame) {
    const size_t length = frame.size() - kSiteHeaderSize - kTrailerSize;
    const size_t cut = size_t(below(length));
    frame.resize(kSiteHeaderSize + cut);
    if (below(2) == 0) {
        // Re-framed: a well-formed packet whose bitmap is short.
        putLe32(frame, kLengthOffset, int64_t(cut));
        frame.insert(frame.end(), std::begin(kTrailer), std::end(kTrailer));
    }
}

void DamageGenerator::breakImageSize(std::vector<uint8_t>& frame) {
    const int64_t width = readLe32(frame.data() + kSiteHeaderSize + kDibWidth);
    const int64_t height = readLe32(frame.data() + kSiteHeaderSize + kDibHeight);
    const int64_t codecBefore = uint32_t(readLe32(frame.data() + kSiteHeaderSize + kDibCompression));
    const auto pick = [this](std::initializer_list<int64_t> values) {
        return *(values.begin() + below(values.size()));
    };
    const auto dimension = [&](int64_t d) {
        return pick({0, -d, d * 2, d + 1, d - 1, 1, 1025, 8192, -8192, 32767, 65536, INT32_MAX, INT32_MIN});
    };
    for (uint64_t n = 1 + below(2); n > 0; --n) {
        const size_t image = frame.size() - kSiteHeaderSize - kTrailerSize - kDibSize;
        switch (below(7)) {
        case 0:
            putLe32(frame, kSiteHeaderSize + kDibWidth, dimension(width));
            break;
        case 1:
            putLe32(frame, kSiteHeaderSize + kDibHeight, dimension(height));
            break;
        case 2: {
            const uint16_t bits = uint16_t(pick({0, 1, 4, 7, 15, 33, 64, 0xFFFF}));
            frame[kSiteHeaderSize + kDibBitCount] = uint8_t(bits);
            frame[kSiteHeaderSize + kDibBitCount + 1] = uint8_t(bits >> 8);
            break;
        }
        case 3:
            putLe32(frame, kSiteHeaderSize + kDibSizeImage,
                    pick({0, int64_t(image) + 1, int64_t(image) * 2, int64_t(image) - 1, 0xFFFFFFFF}));
            break;
        case 4:
            putLe32(frame, kSiteHeaderSize + kDibClrUsed, pick({1, 256, 0x40000000, 0xFFFFFFFF}));
            break;
        case 5: {
            // Another codec's name (or none) on this codec's data.
            int64_t codec = codecBefore;
            while (codec == codecBefore)
                codec = pick({0, makeFourCC('M', 'J', 'P', 'G'), makeFourCC('c', 'v', 'i', 'd'),
                              makeFourCC('M', 'S', 'V', 'C'), makeFourCC('C', 'R', 'A', 'M'),
                              int64_t(uint32_t(next()))});
            putLe32(frame, kSiteHeaderSize + kDibCompression, codec);
            break;
        }
        default: {
            // Less image than the picture needs, consistently declared.
            const size_t keep = size_t(below(image));
            frame.resize(kSiteHeaderSize + kDibSize + keep);
            putLe32(frame, kSiteHeaderSize + kDibSizeImage, int64_t(keep));
            putLe32(frame, kLengthOffset, int64_t(kDibSize + keep));
            frame.insert(frame.end(), std::begin(kTrailer), std::end(kTrailer));
            break;
        }
        }
    }
}

} // namespace sitesim
