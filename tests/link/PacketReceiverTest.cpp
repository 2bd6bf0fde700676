#include "link/PacketReceiver.h"
#include "tests/link/LinkDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>

namespace {

struct Seen {
    uint8_t type;
    int32_t param1, param2;
    std::vector<uint8_t> payload;
    bool operator==(const Seen&) const = default;
};

class Recorder final : public PacketHandler {
public:
    std::vector<Seen> seen;
    bool haltOnVideo = false;
    bool onPacket(const InboundPacket& p) override {
        seen.push_back({p.type, p.param1, p.param2, {p.payload.begin(), p.payload.end()}});
        return !(haltOnVideo && p.type == uint8_t(InboundType::VideoFrame));
    }
};

// The receiver written down plainly: every search rescans the held bytes from
// the start. The incremental receiver must behave exactly like it.
class ReferenceReceiver {
public:
    std::vector<uint8_t> ParseChunk(const std::vector<uint8_t>& chunk, Recorder& out) {
        if (m_buf.size() + chunk.size() > Wire::kPacketBufferSize)
            return reset();
        m_buf.insert(m_buf.end(), chunk.begin(), chunk.end());
        const auto start = find("TOP", 24, 20, 0);
        const auto end = start ? find("END", 8, 4, *start) : std::nullopt;
        if (!end)
            return {};
        const uint8_t* h = m_buf.data() + *start;
        const int32_t n = readInt32(h + 16);
        if (n < 0 || *end != *start + 24 + size_t(n))
            return reset();
        out.seen.push_back({h[4], readInt32(h + 8), readInt32(h + 12), {h + 24, h + 24 + n}});
        std::vector<uint8_t> leftover(m_buf.begin() + std::ptrdiff_t(*end + 8), m_buf.end());
        reset();
        return leftover;
    }
    size_t held() const { return m_buf.size(); }

private:
    std::optional<size_t> find(const char* word, size_t need, size_t eofAt, size_t from) const {
        for (size_t p = from; p + 3 <= m_buf.size(); ++p) {
            const void* hit = std::memchr(m_buf.data() + p, word[0], m_buf.size() - 2 - p);
            if (!hit)
                return std::nullopt;
            p = size_t(static_cast<const uint8_t*>(hit) - m_buf.data());
            if (std::memcmp(m_buf.data() + p, word, 3) != 0)
                continue;
            if (p + need > m_buf.size())
                return std::nullopt;
            if (m_buf[p + 3] == 0 && std::memcmp(m_buf.data() + p + eofAt, "EOF", 4) == 0)
                return p;
        }
        return std::nullopt;
    }
    std::vector<uint8_t> reset() {
        m_buf.clear();
        return {};
    }
    std::vector<uint8_t> m_buf;
};

// Runs chunks through a receiver as the drain loop does: a leftover is parsed next.
template <typename Receiver>
std::vector<Seen> drain(Receiver& receiver, std::deque<std::vector<uint8_t>> queue) {
    Recorder recorder;
    while (!queue.empty()) {
        std::vector<uint8_t> chunk = std::move(queue.front());
        queue.pop_front();
        if (auto leftover = receiver.ParseChunk(chunk, recorder); !leftover.empty())
            queue.push_front(std::move(leftover));
    }
    return recorder.seen;
}

std::deque<std::vector<uint8_t>> split(const std::vector<uint8_t>& bytes, size_t size) {
    std::deque<std::vector<uint8_t>> chunks;
    for (size_t at = 0; at < bytes.size(); at += size)
        chunks.emplace_back(bytes.begin() + std::ptrdiff_t(at),
                            bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), at + size)));
    return chunks;
}

} // namespace

TEST(PacketReceiver, ReassemblesPacketsFromAnyChunkingSkippingGarbage) {
    const std::vector<uint8_t> loginRequest = {
        0x54, 0x4F, 0x50, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x45, 0x4F, 0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00};
    std::vector<uint8_t> noise = {'x', 'T', 'O', 'T', 'O', 'P', 0};
    noise.resize(30, 'q'); // "TOP\0" without "EOF\0" 20 bytes further is no header
    const auto frame = framePayload(320, 240, 2000);
    const auto stream = concat({noise, loginRequest, inbound(InboundType::VideoFrame, 3, 77, frame)});
    for (size_t size : {size_t(1), size_t(7), size_t(1024), stream.size()}) {
        PacketReceiver receiver;
        const auto seen = drain(receiver, split(stream, size));
        ASSERT_EQ(seen.size(), 2u) << "chunk size " << size;
        EXPECT_EQ(seen[0], (Seen{4, 0, 0, {}}));
        EXPECT_EQ(seen[1], (Seen{1, 3, 77, frame}));
        EXPECT_EQ(receiver.held(), 0u);
    }
    // Two packets in one chunk: the second comes back to be parsed next.
    PacketReceiver receiver;
    Recorder rec;
    const auto second = inbound(InboundType::HangUpRequest);
    EXPECT_EQ(receiver.ParseChunk(concat({loginRequest, second}), rec), second);
    EXPECT_EQ(rec.seen.size(), 1u);
}

TEST(PacketReceiver, DamagedPacketsDropEverythingHeld) {
    const auto good = inbound(InboundType::ChannelPrompt);
    auto wrongLength = inbound(InboundType::SiteInfo, 0, 0, std::vector<uint8_t>(10, 1));
    writeInt32(wrongLength.data() + 16, 9);
    const auto trailerInPayload =
        inbound(InboundType::SiteInfo, 0, 0, {'E', 'N', 'D', 0, 'E', 'O', 'F', 0, 9});
    auto negative = inbound(InboundType::ChannelList); // its trailer position matches length -16
    std::memcpy(negative.data() + 8, "END\0EOF\0", 8);
    writeInt32(negative.data() + 16, -16);
    for (const auto& damaged : {wrongLength, trailerInPayload, negative}) {
        PacketReceiver receiver;
        Recorder rec;
        EXPECT_TRUE(receiver.ParseChunk(concat({damaged, good}), rec).empty());
        EXPECT_TRUE(rec.seen.empty());
        EXPECT_EQ(receiver.held(), 0u);
        receiver.ParseChunk(good, rec);
        EXPECT_EQ(rec.seen.size(), 1u) << "reception goes on";
    }
}

TEST(PacketReceiver, OverflowDropsAllAndTheLargestPayloadFitsOnlyFromTheFirstByte) {
    PacketReceiver receiver;
    Recorder rec;
    receiver.ParseChunk(std::vector<uint8_t>(100000, 'x'), rec);
    receiver.ParseChunk(std::vector<uint8_t>(53601, 'y'), rec);
    EXPECT_EQ(receiver.held(), 0u);

    const auto largest =
        inbound(InboundType::VideoFrame, 1, 1, std::vector<uint8_t>(Wire::kMaxInboundPayload));
    ASSERT_EQ(largest.size(), Wire::kPacketBufferSize);
    EXPECT_EQ(drain(receiver, split(largest, 1024)).size(), 1u);
    EXPECT_TRUE(drain(receiver, split(concat({{0}, largest}), 1024)).empty());
}

TEST(PacketReceiver, AHaltingHandlerFreezesTheReceiverUntilReset) {
    PacketReceiver receiver;
    Recorder rec;
    rec.haltOnVideo = true;
    const auto prompt = inbound(InboundType::ChannelPrompt);
    EXPECT_TRUE(receiver.ParseChunk(concat({inbound(InboundType::VideoFrame), prompt}), rec).empty());
    receiver.ParseChunk(prompt, rec);
    EXPECT_EQ(rec.seen.size(), 1u);
    receiver.reset();
    receiver.ParseChunk(prompt, rec);
    EXPECT_EQ(rec.seen.size(), 2u);
}

TEST(PacketReceiver, BehavesExactlyLikeAFullRescanOnRandomStreams) {
    std::mt19937 rng(20240611);
    auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    // Near-markers: a marker's letters with anything but NUL after them.
    auto nearNul = [&] {
        return uint8_t(pick(0, 1) ? pick(1, 255) : "TOPENDEOF"[pick(0, 8)]);
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> stream;
        std::vector<size_t> markers; // where markers start in the stream, to cut chunks across them
        for (int i = pick(1, 12); i > 0; --i) {
            std::vector<uint8_t> payload(size_t(pick(0, 300)));
            for (auto& b : payload)
                b = uint8_t(pick(0, 255));
            if (!payload.empty() && pick(0, 3) == 0) { // marker fragments make searches stop mid-way
                using namespace std::string_view_literals;
                constexpr std::string_view frags[] = {"TOP\0"sv, "END\0EOF\0"sv, "TOP"sv, "END\0EOF"sv,
                                                      "END"sv};
                std::string frag(frags[pick(0, 4)]);
                if (frag.size() % 4 == 3)
                    frag.push_back(char(nearNul()));
                const size_t at = size_t(pick(0, int(payload.size()) - 1));
                for (size_t k = 0; k < frag.size() && at + k < payload.size(); ++k)
                    payload[at + k] = uint8_t(frag[k]);
            }
            auto packet = inbound(uint8_t(pick(0, 25)), pick(-5, 5), pick(-5, 5), payload);
            const size_t trailer = packet.size() - Wire::kTrailerSize;
            switch (pick(0, 10)) {
            case 0:
                writeInt32(packet.data() + 16, int32_t(payload.size()) + pick(-3, 3));
                break;
            case 1:
                packet.resize(size_t(pick(0, int(packet.size()))));
                break;
            case 2:
                stream.insert(stream.end(), size_t(pick(1, 30)), uint8_t('T'));
                break;
            case 3: // enough to overflow the buffer
                stream.insert(stream.end(), size_t(pick(0, 1)) * 150000, uint8_t('x'));
                break;
            case 4: // "TOP" without its NUL
                packet[3] = nearNul();
                break;
            case 5: // the header's "EOF" without its NUL
                packet[23] = nearNul();
                break;
            case 6: // "END" or the trailer's "EOF" without its NUL
                packet[trailer + size_t(pick(0, 1)) * 4 + 3] = nearNul();
                break;
            case 7: // a near-header just before the real one
                stream.insert(stream.end(), {'T', 'O', 'P', nearNul()});
                stream.insert(stream.end(), packet.begin() + 4, packet.begin() + std::ptrdiff_t(pick(4, 24)));
                break;
            }
            markers.push_back(stream.size());
            markers.push_back(stream.size() + 20);
            markers.push_back(stream.size() + trailer);
            markers.push_back(stream.size() + trailer + 4);
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
        std::deque<std::vector<uint8_t>> chunks;
        for (size_t at = 0; at < stream.size();) {
            size_t end = std::min(stream.size(), at + size_t(pick(0, 4) ? pick(1, 2000) : pick(1, 3)));
            if (pick(0, 2) ==
                0) { // cut inside the next marker: its letters in one chunk, its NUL in the next
                const auto next = std::upper_bound(markers.begin(), markers.end(), at);
                if (next != markers.end())
                    end = std::min(stream.size(), *next + size_t(pick(1, 3)));
            }
            chunks.emplace_back(stream.begin() + std::ptrdiff_t(at), stream.begin() + std::ptrdiff_t(end));
            at = end;
        }
        PacketReceiver receiver;
        ReferenceReceiver reference;
        ASSERT_EQ(drain(receiver, chunks), drain(reference, chunks)) << "round " << round;
        ASSERT_EQ(receiver.held(), reference.held()) << "round " << round;
    }
}
