#include "PacketReceiver.h"
#include "LinkDoubles.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace {

struct Seen {
    uint8_t type;
    int32_t param1;
    int32_t param2;
    std::vector<uint8_t> payload;
    bool operator==(const Seen&) const = default;
};

class Recorder final : public PacketHandler {
public:
    std::vector<Seen> seen;
    bool haltOnVideo = false;
    bool OnPacket(const InboundPacket& p) override {
        seen.push_back({p.type, p.param1, p.param2, {p.payload.begin(), p.payload.end()}});
        return !(haltOnVideo && p.type == uint8_t(InboundType::VideoFrame));
    }
};

// The receiver as written down plainly: every search rescans from the start
// of the held bytes. The incremental receiver must behave exactly like it.
class ReferenceReceiver {
public:
    std::vector<uint8_t> ParseChunk(const std::vector<uint8_t>& chunk, Recorder& out) {
        if (m_buf.size() + chunk.size() > Wire::kPacketBufferSize) {
            Reset();
            return {};
        }
        m_buf.insert(m_buf.end(), chunk.begin(), chunk.end());
        if (!m_startFound) {
            std::optional<size_t> start = Find("TOP", 24, 20);
            if (!start)
                return {};
            m_startFound = true;
            m_start = *start;
        }
        std::optional<size_t> end = Find("END", 8, 4, m_start);
        if (!end)
            return {};
        const int32_t n = ReadInt32(m_buf.data() + m_start + 16);
        if (n < 0 || *end != m_start + 24 + size_t(n)) {
            Reset();
            return {};
        }
        const uint8_t* h = m_buf.data() + m_start;
        out.seen.push_back({h[4], ReadInt32(h + 8), ReadInt32(h + 12), {h + 24, h + 24 + n}});
        std::vector<uint8_t> leftover(m_buf.begin() + std::ptrdiff_t(*end + 8), m_buf.end());
        Reset();
        return leftover;
    }
    size_t held() const { return m_buf.size(); }

private:
    // First P >= from with `word` at P, P + need within the bytes, NUL at P + 3
    // and "EOF\0" at P + eofAt; stops (nothing) at the first `word` too close
    // to the end.
    std::optional<size_t> Find(const char* word, size_t need, size_t eofAt, size_t from = 0) const {
        for (size_t p = from; p + 3 <= m_buf.size(); ++p) {
            if (std::memcmp(m_buf.data() + p, word, 3) != 0)
                continue;
            if (p + need > m_buf.size())
                return std::nullopt;
            if (m_buf[p + 3] == 0 && std::memcmp(m_buf.data() + p + eofAt, "EOF", 4) == 0)
                return p;
        }
        return std::nullopt;
    }
    void Reset() {
        m_buf.clear();
        m_startFound = false;
    }
    std::vector<uint8_t> m_buf;
    bool m_startFound = false;
    size_t m_start = 0;
};

// Runs chunks through a receiver the way the drain loop does: a leftover goes
// to the head of the queue and is parsed next.
template <typename Receiver>
void Drain(Receiver& receiver, Recorder& recorder, std::deque<std::vector<uint8_t>> queue) {
    while (!queue.empty()) {
        std::vector<uint8_t> chunk = std::move(queue.front());
        queue.pop_front();
        std::vector<uint8_t> leftover = receiver.ParseChunk(chunk, recorder);
        if (!leftover.empty())
            queue.push_front(std::move(leftover));
    }
}

std::deque<std::vector<uint8_t>> Split(const std::vector<uint8_t>& bytes, size_t size) {
    std::deque<std::vector<uint8_t>> chunks;
    for (size_t at = 0; at < bytes.size(); at += size)
        chunks.emplace_back(bytes.begin() + std::ptrdiff_t(at),
                            bytes.begin() + std::ptrdiff_t(std::min(bytes.size(), at + size)));
    return chunks;
}

std::vector<uint8_t> Hex(std::initializer_list<int> values) {
    return {values.begin(), values.end()};
}

} // namespace

TEST(PacketReceiver, TheSpecifiedLoginRequestBytesAreOneLoginRequest) {
    const auto bytes =
        Hex({0x54, 0x4F, 0x50, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x45, 0x4F, 0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00});
    PacketReceiver receiver;
    Recorder rec;
    EXPECT_TRUE(receiver.ParseChunk(bytes, rec).empty());
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0], (Seen{4, 0, 0, {}}));
    EXPECT_EQ(receiver.held(), 0u);
}

TEST(PacketReceiver, PacketsAreReassembledFromAnyChunkingAndDispatchedOnce) {
    const std::vector<uint8_t> payload = FramePayload(320, 240, 2000);
    const auto packet = Inbound(InboundType::VideoFrame, 3, 77, payload);
    for (size_t size : {size_t(1), size_t(2), size_t(7), size_t(24), size_t(1024), packet.size()}) {
        PacketReceiver receiver;
        Recorder rec;
        Drain(receiver, rec, Split(packet, size));
        ASSERT_EQ(rec.seen.size(), 1u) << "chunk size " << size;
        EXPECT_EQ(rec.seen[0], (Seen{1, 3, 77, payload}));
        EXPECT_EQ(receiver.held(), 0u);
    }
}

TEST(PacketReceiver, SecondPacketOfAChunkComesBackAsLeftoverAndIsParsedNext) {
    const auto first = Inbound(InboundType::ChannelPrompt, 0, 0);
    const auto second = Inbound(InboundType::HangUpRequest, 5, 6, {1, 2, 3});
    PacketReceiver receiver;
    Recorder rec;
    EXPECT_EQ(receiver.ParseChunk(Concat({first, second}), rec), second);
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].type, 2);

    Recorder both;
    PacketReceiver again;
    Drain(again, both, {Concat({first, second})});
    ASSERT_EQ(both.seen.size(), 2u);
    EXPECT_EQ(both.seen[1], (Seen{20, 5, 6, {1, 2, 3}}));
}

TEST(PacketReceiver, GarbageAndFalseHeadersBeforeAPacketAreSkipped) {
    std::vector<uint8_t> noise = {'x', 'T', 'O', 'T', 'O', 'P', 'T', 'O', 'P', 0};
    noise.resize(noise.size() + 20, 'q'); // "TOP\0" without "EOF\0" 20 bytes later
    const auto packet = Inbound(InboundType::LoginRejected, 1, 2);
    for (size_t size : {size_t(1), size_t(5), size_t(1000)}) {
        PacketReceiver receiver;
        Recorder rec;
        Drain(receiver, rec, Split(Concat({noise, packet}), size));
        ASSERT_EQ(rec.seen.size(), 1u) << size;
        EXPECT_EQ(rec.seen[0].type, 3);
    }
}

TEST(PacketReceiver, DamagedPacketsDropEverythingHeld) {
    const auto good = Inbound(InboundType::ChannelPrompt);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    auto wrongLength = Inbound(InboundType::SiteInfo, 0, 0, std::vector<uint8_t>(10, 1));
    WriteInt32(wrongLength.data() + 16, 9);
    // The trailer pattern inside a payload ends the packet early.
    std::vector<uint8_t> marker = {'E', 'N', 'D', 0, 'E', 'O', 'F', 0, 9, 9};
    const auto trailerInPayload = Inbound(InboundType::SiteInfo, 0, 0, marker);
    // A negative length that matches a trailer placed in the header itself.
    auto negative = Inbound(InboundType::ChannelList, 0, 0);
    std::memcpy(negative.data() + 8, "END\0EOF\0", 8);
    WriteInt32(negative.data() + 16, -16);
    const std::vector<Case> cases = {
        {"length disagrees with trailer", Concat({wrongLength, good})},
        {"trailer inside payload", Concat({trailerInPayload, good})},
        {"negative length", Concat({negative, good})},
    };
    for (const Case& c : cases) {
        PacketReceiver receiver;
        Recorder rec;
        EXPECT_TRUE(receiver.ParseChunk(c.bytes, rec).empty()) << c.name;
        EXPECT_TRUE(rec.seen.empty()) << c.name;
        EXPECT_EQ(receiver.held(), 0u) << c.name;
        // Reception goes on with later data.
        receiver.ParseChunk(good, rec);
        EXPECT_EQ(rec.seen.size(), 1u) << c.name;
    }
}

TEST(PacketReceiver, OverflowDropsHeldBytesAndTheChunkThenResynchronises) {
    PacketReceiver receiver;
    Recorder rec;
    receiver.ParseChunk(std::vector<uint8_t>(100000, 'x'), rec);
    EXPECT_EQ(receiver.held(), 100000u);
    receiver.ParseChunk(std::vector<uint8_t>(53601, 'y'), rec);
    EXPECT_EQ(receiver.held(), 0u);
    receiver.ParseChunk(Inbound(InboundType::ChannelPrompt), rec);
    EXPECT_EQ(rec.seen.size(), 1u);
}

TEST(PacketReceiver, TheLargestPayloadFitsOnlyWhenItsHeaderIsTheFirstByteHeld) {
    const auto largest =
        Inbound(InboundType::VideoFrame, 1, 1, std::vector<uint8_t>(Wire::kMaxInboundPayload, 0));
    ASSERT_EQ(largest.size(), Wire::kPacketBufferSize);
    PacketReceiver receiver;
    Recorder rec;
    Drain(receiver, rec, Split(largest, 1024));
    ASSERT_EQ(rec.seen.size(), 1u);
    EXPECT_EQ(rec.seen[0].payload.size(), Wire::kMaxInboundPayload);

    Drain(receiver, rec, Split(Concat({{0}, largest}), 1024));
    EXPECT_EQ(rec.seen.size(), 1u);
}

TEST(PacketReceiver, AHaltingHandlerFreezesTheReceiverUntilReset) {
    PacketReceiver receiver;
    Recorder rec;
    rec.haltOnVideo = true;
    const auto frame = Inbound(InboundType::VideoFrame, 1, 1, FramePayload(160, 120));
    const auto prompt = Inbound(InboundType::ChannelPrompt);
    EXPECT_TRUE(receiver.ParseChunk(Concat({frame, prompt}), rec).empty());
    EXPECT_TRUE(receiver.halted());
    receiver.ParseChunk(prompt, rec);
    EXPECT_EQ(rec.seen.size(), 1u) << "nothing is dispatched again while halted";
    receiver.Reset();
    receiver.ParseChunk(prompt, rec);
    EXPECT_EQ(rec.seen.size(), 2u);
}

TEST(PacketReceiver, BehavesExactlyLikeAFullRescanOnRandomStreams) {
    std::mt19937 rng(20240611);
    auto pick = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(rng);
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> stream;
        const int pieces = pick(1, 12);
        for (int i = 0; i < pieces; ++i) {
            std::vector<uint8_t> payload(size_t(pick(0, 300)));
            for (auto& b : payload)
                b = uint8_t(pick(0, 255));
            // Sprinkle marker fragments so searches stop and resume mid-way.
            if (!payload.empty() && pick(0, 3) == 0) {
                using namespace std::string_view_literals;
                const std::string_view frag = pick(0, 1) ? "TOP\0"sv : "END\0EOF\0"sv;
                const size_t at = size_t(pick(0, int(payload.size()) - 1));
                for (size_t k = 0; k < frag.size() && at + k < payload.size(); ++k)
                    payload[at + k] = uint8_t(frag[k]);
            }
            auto packet = Inbound(uint8_t(pick(0, 25)), pick(-5, 5), pick(-5, 5), payload);
            switch (pick(0, 6)) {
            case 0: // damaged length
                WriteInt32(packet.data() + 16, int32_t(payload.size()) + pick(-3, 3));
                break;
            case 1: // cut short
                packet.resize(size_t(pick(0, int(packet.size()))));
                break;
            case 2: // leading noise
                stream.insert(stream.end(), size_t(pick(1, 30)), uint8_t('T'));
                break;
            case 3: // a chunk that overflows the buffer
                stream.insert(stream.end(), size_t(pick(0, 1)) * 150000, uint8_t('x'));
                break;
            default:
                break;
            }
            stream.insert(stream.end(), packet.begin(), packet.end());
        }
        std::deque<std::vector<uint8_t>> chunks;
        for (size_t at = 0; at < stream.size();) {
            const size_t size = pick(0, 4) == 0 ? size_t(pick(1, 3)) : size_t(pick(1, 2000));
            const size_t end = std::min(stream.size(), at + size);
            chunks.emplace_back(stream.begin() + std::ptrdiff_t(at), stream.begin() + std::ptrdiff_t(end));
            at = end;
        }
        PacketReceiver receiver;
        ReferenceReceiver reference;
        Recorder got;
        Recorder want;
        Drain(receiver, got, chunks);
        Drain(reference, want, chunks);
        ASSERT_EQ(got.seen, want.seen) << "round " << round;
        ASSERT_EQ(receiver.held(), reference.held()) << "round " << round;
    }
}
