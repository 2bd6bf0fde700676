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
// Floods are hostile by number only: every packet is well-formed. They are
// never picked at random (a rejection flood ends the call at the viewer);
// setFlood() makes every harmed frame one kind of flood:
//   new-stream-keys         kFloodCount copies of the frame, each with a
//                           stream key never used before, then the frame
//   repeated-prompts        kFloodCount channel prompts, then the frame
//   repeated-rejections     kFloodCount login rejections, then the frame
//   repeated-site-records   kFloodCount site records, then the frame
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
#include <optional>
#include <span>
#include <string_view>
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
    NewStreamKeys,
    RepeatedPrompts,
    RepeatedRejections,
    RepeatedSiteRecords,
};
// The kinds picked at random: Garbage to Burst.
constexpr size_t kRandomDamageKinds = 9;
constexpr size_t kDamageKinds = 13;

// "garbage", "header-flip", ... as above.
const char* damageKindName(DamageKind kind);
// The flood of that name; nothing for any other name.
std::optional<DamageKind> parseFloodKind(std::string_view name);

class DamageGenerator {
public:
    static constexpr double kDefaultRate = 0.25;
    static constexpr uint64_t kDefaultSeed = 1;
    // The flush sent before a packet that must not be lost.
    static constexpr size_t kFlushSize = 24 + 8 + 2048;
    // Packets one harmed frame floods with.
    static constexpr int kFloodCount = 16;

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
    // From now on every harmed frame (a `rate` share) carries this flood;
    // nothing: the random mix again.
    void setFlood(std::optional<DamageKind> flood) { m_flood = flood; }
    std::optional<DamageKind> flood() const { return m_flood; }
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
    void appendFlood(std::vector<uint8_t>& out, DamageKind kind, std::span<const uint8_t> frame);

    uint64_t m_seed;
    uint64_t m_state;
    double m_rate;
    bool m_dirty = false; // damage sent since the last spared packet
    bool m_spareNextFrame = false;
    std::optional<DamageKind> m_flood;
    int32_t m_nextFloodKey = 0x40000000; // far above any key a site uses
    std::vector<DamageKind> m_last;
    std::array<uint64_t, kDamageKinds> m_counts{};
};

} // namespace sitesim
