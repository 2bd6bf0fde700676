#pragma once

// The site as a bad peer: turns the site's packets, one at a time, into the
// bytes a faulty or hostile site sends instead. Pure and deterministic: the
// same seed and the same packets give the same bytes.
//
// Only video frames are harmed, and only a `rate` share of them. A harmed
// frame is replaced by a damaged copy or preceded by hostile bytes:
//   garbage         random bytes with stray marker pieces, then the frame
//   header-flip     bytes of the markers or the length field flipped
//   body-flip       bytes of the compressed image flipped; framing intact
//   oversized       a header declaring a length far beyond the receive
//                   buffer, some body (now and then more than the buffer
//                   holds), then the frame
//   lying-length    the length field claims more or less than follows
//   truncated       the frame cut short, with no trailer or re-framed around
//                   the shorter payload
//   bad-image-size  framing intact, but the bitmap header (width, height,
//                   bit depth, image size, colour count, codec) does not
//                   match the data
//   unknown-type    a well-framed packet of a type the viewer does not know,
//                   then the frame
//   burst           several of the above in a row, then the frame
//
// Everything else the site says (channel lists, prompts, site records,
// hang-up requests...) passes unchanged, so the call goes on. Once damage was
// sent, such a packet is preceded by a flush, lest the viewer lose it along
// with a damaged one: 24 zero bytes finish any half-sent header, a bare
// trailer ends any pending one, and 2,048 zero bytes fill the rest of the
// read that the viewer drops with a damaged packet (reads are at most 1,024
// bytes). The first frame after a channel list (the frame that picks the
// viewer's decompressor) passes unchanged in the same way.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sitesim {

enum class DamageKind : uint8_t {
    Garbage,
    HeaderFlip,
    BodyFlip,
    Oversized,
    LyingLength,
    Truncated,
    BadImageSize,
    UnknownType,
    Burst,
};
constexpr size_t kDamageKinds = 9;

// "garbage", "header-flip", ... as above.
const char* damageKindName(DamageKind kind);

class DamageGenerator {
public:
    static constexpr double kDefaultRate = 0.25;
    static constexpr uint64_t kDefaultSeed = 1;
    // The flush sent before a packet that must not be lost.
    static constexpr size_t kFlushSize = 24 + 8 + 2048;

    // `rate`: the share of video frames harmed, 0 to 1.
    DamageGenerator(uint64_t seed, double rate);

    // The bytes to send in place of `packet`, one site packet as
    // encodeSitePacket makes it (anything else passes unchanged).
    std::vector<uint8_t> apply(std::span<const uint8_t> packet);
    // What apply() sends for `frame` (a well-formed video frame packet) when
    // it picks `kind`; counted the same way. Anything else passes unchanged.
    std::vector<uint8_t> damage(DamageKind kind, std::span<const uint8_t> frame);

    // What the last apply() did, in order (a burst lists its pieces after it).
    const std::vector<DamageKind>& lastDamage() const { return m_last; }
    // Totals per kind, indexed by DamageKind.
    const std::array<uint64_t, kDamageKinds>& counts() const { return m_counts; }
    uint64_t seed() const { return m_seed; }
    double rate() const { return m_rate; }

private:
    uint64_t next();
    uint64_t below(uint64_t n);
    bool chance(double p);

    void count(DamageKind kind);
    void appendGarbage(std::vector<uint8_t>& out, size_t maxLength);
    void appendOversized(std::vector<uint8_t>& out, bool mayFlood);
    void appendUnknownType(std::vector<uint8_t>& out);
    void flipHeader(std::vector<uint8_t>& frame);
    void flipBody(std::vector<uint8_t>& frame);
    void lieAboutLength(std::vector<uint8_t>& frame);
    void truncate(std::vector<uint8_t>& frame);
    void breakImageSize(std::vector<uint8_t>& frame);

    uint64_t m_seed;
    uint64_t m_state;
    double m_rate;
    bool m_dirty = false; // damage sent since the last spared packet
    bool m_spareNextFrame = false;
    std::vector<DamageKind> m_last;
    std::array<uint64_t, kDamageKinds> m_counts{};
};

} // namespace sitesim
