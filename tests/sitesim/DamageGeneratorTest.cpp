// The bad peer's damage, judged by the program's own packet receiver: each
// kind does what it says, damage never forges a command, and the site's
// events survive any amount of it.
#include "tools/sitesim/DamageGenerator.h"
#include "link/PacketReceiver.h"
#include "platform/dib/PackedDib.h"
#include "tools/sitesim/SiteFraming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

using sitesim::DamageGenerator;
using sitesim::DamageKind;

namespace {

struct Received {
    uint8_t type;
    int32_t param1;
    int32_t param2;
    std::vector<uint8_t> payload;
    bool operator==(const Received&) const = default;
};

void PrintTo(const Received& r, std::ostream* os) {
    *os << "type " << int(r.type) << " (" << r.param1 << ", " << r.param2 << ") " << r.payload.size()
        << " bytes";
}

class Collector final : public PacketHandler {
public:
    std::vector<Received> packets;
    bool onPacket(const InboundPacket& p) override {
        packets.push_back({p.type, p.param1, p.param2, {p.payload.begin(), p.payload.end()}});
        return true;
    }
};

// What the program's receive loop makes of `bytes` read in chunks of 1 to
// 1,024 bytes (the serial engine's read size): the leftover after a packet is
// parsed before the next chunk.
std::vector<Received> receive(const std::vector<uint8_t>& bytes, uint64_t chunkSeed) {
    PacketReceiver receiver;
    Collector collector;
    std::deque<std::vector<uint8_t>> queue;
    for (size_t at = 0; at < bytes.size();) {
        chunkSeed = chunkSeed * 6364136223846793005ULL + 1442695040888963407ULL;
        const size_t n = std::min<size_t>(1 + (chunkSeed >> 33) % 1024, bytes.size() - at);
        queue.emplace_back(bytes.begin() + std::ptrdiff_t(at), bytes.begin() + std::ptrdiff_t(at + n));
        at += n;
    }
    while (!queue.empty()) {
        const std::vector<uint8_t> chunk = std::move(queue.front());
        queue.pop_front();
        if (std::vector<uint8_t> left = receiver.ParseChunk(chunk, collector); !left.empty())
            queue.push_front(std::move(left));
    }
    return collector.packets;
}

// A frame as the site sends it: a bitmap header and `image` bytes of data.
std::vector<uint8_t> framePacket(int32_t channel, size_t image = 3000, uint8_t fill = 0x11) {
    BitmapInfoHeader h;
    h.biWidth = 320;
    h.biHeight = 240;
    h.biBitCount = 24;
    h.biCompression = makeFourCC('M', 'J', 'P', 'G');
    h.biSizeImage = uint32_t(image);
    std::vector<uint8_t> payload(BitmapInfoHeader::kSize + image, fill);
    h.write(payload.data());
    return sitesim::encodeSitePacket(sitesim::VideoFrame, channel, 1000 + channel, payload);
}

Received asReceived(const std::vector<uint8_t>& packet) {
    return {packet[4], sitesim::readLe32(packet.data() + 8), sitesim::readLe32(packet.data() + 12),
            std::vector<uint8_t>(packet.begin() + 24, packet.end() - 8)};
}

bool isCommand(uint8_t type) {
    static constexpr uint8_t kCommands[] = {
        sitesim::ChannelList,   sitesim::ChannelPrompt, sitesim::LoginRejected, sitesim::LoginRequest,
        sitesim::ChannelClosed, sitesim::SiteInfo,      sitesim::HangUpRequest};
    return std::find(std::begin(kCommands), std::end(kCommands), type) != std::end(kCommands);
}

constexpr uint64_t kSeeds = 40;

} // namespace

TEST(DamageGenerator, EachKindDoesWhatItSaysAndNeverForgesACommand) {
    const std::vector<uint8_t> frame = framePacket(2);
    const Received original = asReceived(frame);
    const BitmapInfoHeader originalHeader = *BitmapInfoHeader::parse(original.payload);

    using Check = std::function<void(const std::vector<uint8_t>& sent, const std::vector<Received>& got)>;
    const auto atMostTheFrame = [&](const std::vector<uint8_t>&, const std::vector<Received>& got) {
        for (const Received& r : got)
            EXPECT_EQ(r, original);
    };
    const auto nothing = [&](const std::vector<uint8_t>&, const std::vector<Received>& got) {
        EXPECT_TRUE(got.empty());
    };
    const std::pair<DamageKind, Check> table[] = {
        {DamageKind::Garbage,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             EXPECT_GT(sent.size(), frame.size());
             EXPECT_TRUE(std::equal(frame.begin(), frame.end(), sent.end() - std::ptrdiff_t(frame.size())));
             atMostTheFrame(sent, got);
         }},
        {DamageKind::HeaderFlip,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             EXPECT_EQ(sent.size(), frame.size());
             EXPECT_EQ(sent[4], frame[4]) << "the type is never touched";
             EXPECT_TRUE(std::equal(frame.begin() + 8, frame.begin() + 16, sent.begin() + 8));
             nothing(sent, got);
         }},
        {DamageKind::BodyFlip,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             ASSERT_EQ(got.size(), 1u);
             EXPECT_EQ(got[0].param2, original.param2);
             EXPECT_NE(got[0].payload, original.payload);
             EXPECT_EQ(got[0].payload.size(), original.payload.size());
             EXPECT_TRUE(
                 std::equal(original.payload.begin(), original.payload.begin() + 40, got[0].payload.begin()))
                 << "the bitmap header stays intact";
             EXPECT_EQ(sent.size(), frame.size());
         }},
        {DamageKind::Oversized,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             const int64_t declared = sitesim::readLe32(sent.data() + 16);
             EXPECT_TRUE(declared < 0 || declared > int64_t(sitesim::kMaxSitePayload)) << declared;
             atMostTheFrame(sent, got);
         }},
        {DamageKind::LyingLength,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             EXPECT_EQ(sent.size(), frame.size());
             EXPECT_NE(sitesim::readLe32(sent.data() + 16), sitesim::readLe32(frame.data() + 16));
             nothing(sent, got);
         }},
        {DamageKind::Truncated,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             EXPECT_LT(sent.size(), frame.size());
             ASSERT_LE(got.size(), 1u);
             if (!got.empty()) {
                 EXPECT_LT(got[0].payload.size(), original.payload.size());
                 EXPECT_FALSE(PackedDibView(got[0].payload).valid()) << "too short for what it declares";
             }
         }},
        {DamageKind::BadImageSize,
         [&](const std::vector<uint8_t>&, const std::vector<Received>& got) {
             ASSERT_EQ(got.size(), 1u);
             EXPECT_EQ(got[0].param2, original.param2);
             const auto h = BitmapInfoHeader::parse(got[0].payload);
             ASSERT_TRUE(h);
             EXPECT_EQ(h->biSize, 40u);
             EXPECT_TRUE(h->biWidth != originalHeader.biWidth || h->biHeight != originalHeader.biHeight ||
                         h->biBitCount != originalHeader.biBitCount ||
                         h->biSizeImage != originalHeader.biSizeImage ||
                         h->biClrUsed != originalHeader.biClrUsed ||
                         h->biCompression != originalHeader.biCompression ||
                         got[0].payload.size() != original.payload.size());
         }},
        {DamageKind::UnknownType,
         [&](const std::vector<uint8_t>&, const std::vector<Received>& got) {
             ASSERT_EQ(got.size(), 2u);
             EXPECT_FALSE(isCommand(got[0].type) || got[0].type == sitesim::VideoFrame);
             EXPECT_EQ(got[1], original);
         }},
        {DamageKind::Burst,
         [&](const std::vector<uint8_t>& sent, const std::vector<Received>& got) {
             EXPECT_GT(sent.size(), frame.size());
             for (const Received& r : got) {
                 const bool shortFrame = r.type == sitesim::VideoFrame && r.param2 == original.param2 &&
                                         !PackedDibView(r.payload).valid();
                 EXPECT_TRUE(r == original || shortFrame ||
                             !(isCommand(r.type) || r.type == sitesim::VideoFrame));
             }
         }},
    };
    for (const auto& [kind, check] : table) {
        for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
            SCOPED_TRACE(std::string(sitesim::damageKindName(kind)) + " seed " + std::to_string(seed));
            DamageGenerator generator(seed, 1.0);
            const std::vector<uint8_t> sent = generator.damage(kind, frame);
            ASSERT_FALSE(generator.lastDamage().empty());
            EXPECT_EQ(generator.lastDamage().front(), kind);
            EXPECT_EQ(generator.counts()[size_t(kind)],
                      kind == DamageKind::Burst ? 1u
                                                : uint64_t(std::count(generator.lastDamage().begin(),
                                                                      generator.lastDamage().end(), kind)));
            if (kind == DamageKind::Burst) {
                EXPECT_GE(generator.lastDamage().size(), 4u) << "three pieces or more";
            }
            const std::vector<Received> got = receive(sent, seed);
            for (const Received& r : got)
                EXPECT_FALSE(isCommand(r.type)) << "type " << int(r.type);
            check(sent, got);
        }
    }
}

TEST(DamageGenerator, TheSiteEventsSurviveAndGoodFramesStillArrive) {
    // A call as the site sends it: channel list, frames, events between frames.
    std::vector<std::vector<uint8_t>> packets;
    std::vector<Received> events;
    const auto event = [&](std::vector<uint8_t> packet) {
        events.push_back(asReceived(packet));
        packets.push_back(std::move(packet));
    };
    std::vector<uint8_t> list(36, 0);
    sitesim::writeLe32(list.data(), 1);
    event(sitesim::encodeSitePacket(sitesim::ChannelList, 1, 3, list));
    for (int i = 0; i < 200; ++i) {
        packets.push_back(framePacket(1 + i % 3, 500 + size_t(i) * 37 % 4000, uint8_t(i)));
        if (i % 25 == 24)
            event(sitesim::encodeSitePacket(
                i % 50 == 24 ? sitesim::SiteInfo : sitesim::ChannelClosed, 0, 1001,
                std::vector<uint8_t>(i % 50 == 24 ? 300 : 0, uint8_t('a' + i % 26))));
    }

    for (const double rate : {0.25, 1.0}) {
        for (uint64_t seed = 1; seed <= 12; ++seed) {
            SCOPED_TRACE("rate " + std::to_string(rate) + " seed " + std::to_string(seed));
            DamageGenerator generator(seed, rate);
            std::vector<uint8_t> sent;
            uint64_t listed = 0;
            for (const auto& p : packets) {
                const std::vector<uint8_t> bytes = generator.apply(p);
                listed += generator.lastDamage().size();
                sent.insert(sent.end(), bytes.begin(), bytes.end());
            }
            uint64_t counted = 0;
            for (const uint64_t n : generator.counts())
                counted += n;
            EXPECT_EQ(counted, listed);

            std::vector<Received> gotEvents;
            int intactFrames = 0;
            for (const Received& r : receive(sent, seed)) {
                if (r.type == sitesim::VideoFrame)
                    intactFrames += std::any_of(packets.begin(), packets.end(),
                                                [&](const auto& p) { return asReceived(p) == r; });
                else if (isCommand(r.type))
                    gotEvents.push_back(r);
            }
            EXPECT_EQ(gotEvents, events);
            EXPECT_GE(intactFrames, rate < 1 ? 100 : 1) << "enough good frames to keep the picture";
        }
    }
}

TEST(DamageGenerator, ASeedReplaysTheSameBytesAndRateZeroChangesNothing) {
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i < 60; ++i)
        packets.push_back(framePacket(1 + i % 2, 200 + size_t(i) * 11));
    const auto run = [&](uint64_t seed, double rate) {
        DamageGenerator generator(seed, rate);
        std::vector<std::vector<uint8_t>> out;
        for (const auto& p : packets)
            out.push_back(generator.apply(p));
        return out;
    };
    EXPECT_EQ(run(7, 0.5), run(7, 0.5));
    EXPECT_NE(run(7, 0.5), run(8, 0.5));
    EXPECT_EQ(run(7, 0.0), packets);
    const auto all = run(7, 1.0);
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_NE(all[i], packets[i]) << "frame " << i;
}

TEST(DamageGenerator, FloodsAreWellFormedPacketsOfOneKindAndNeverPickedAtRandom) {
    const std::vector<uint8_t> frame = framePacket(2);
    const Received original = asReceived(frame);
    const std::pair<DamageKind, uint8_t> floods[] = {
        {DamageKind::NewStreamKeys, sitesim::VideoFrame},
        {DamageKind::RepeatedPrompts, sitesim::ChannelPrompt},
        {DamageKind::RepeatedRejections, sitesim::LoginRejected},
        {DamageKind::RepeatedSiteRecords, sitesim::SiteInfo},
    };
    for (const auto& [kind, type] : floods) {
        SCOPED_TRACE(sitesim::damageKindName(kind));
        EXPECT_EQ(sitesim::parseFloodKind(sitesim::damageKindName(kind)), kind);
        DamageGenerator generator(3, 1.0);
        generator.setFlood(kind);
        std::vector<uint8_t> sent;
        for (int i = 0; i < 3; ++i) {
            const std::vector<uint8_t> bytes = generator.apply(frame);
            sent.insert(sent.end(), bytes.begin(), bytes.end());
        }
        EXPECT_EQ(generator.counts()[size_t(kind)], 3u);
        const std::vector<Received> got = receive(sent, 5);
        ASSERT_EQ(got.size(), size_t(3 * (DamageGenerator::kFloodCount + 1))) << "nothing lost or merged";
        std::vector<int32_t> keys;
        for (size_t i = 0; i < got.size(); ++i) {
            if (i % (DamageGenerator::kFloodCount + 1) == size_t(DamageGenerator::kFloodCount)) {
                EXPECT_EQ(got[i], original) << "the frame itself follows its flood";
                continue;
            }
            EXPECT_EQ(got[i].type, type);
            if (type == sitesim::VideoFrame) {
                EXPECT_EQ(got[i].payload, original.payload);
                keys.push_back(got[i].param2);
            } else if (type == sitesim::SiteInfo) {
                EXPECT_EQ(got[i].payload.size(), 300u);
            }
        }
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << "every key a new one";
        EXPECT_EQ(std::count(keys.begin(), keys.end(), original.param2), 0);
    }
    EXPECT_FALSE(sitesim::parseFloodKind("garbage"));

    // The random mix never floods: the call would end at the first rejection.
    DamageGenerator random(9, 1.0);
    for (int i = 0; i < 400; ++i)
        random.apply(frame);
    for (size_t k = sitesim::kRandomDamageKinds; k < sitesim::kDamageKinds; ++k)
        EXPECT_EQ(random.counts()[k], 0u) << sitesim::damageKindName(DamageKind(k));
}
