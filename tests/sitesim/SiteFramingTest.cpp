#include "tools/sitesim/SiteFraming.h"

#include <gtest/gtest.h>

using namespace sitesim;

namespace {

std::vector<uint8_t> hex(std::initializer_list<int> bytes) {
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<Packet> readAll(PacketReader& reader, const std::vector<uint8_t>& bytes, size_t chunk) {
    std::vector<Packet> packets;
    for (size_t i = 0; i < bytes.size(); i += chunk) {
        const size_t n = std::min(chunk, bytes.size() - i);
        reader.feed(std::span<const uint8_t>(bytes.data() + i, n));
        while (auto p = reader.next())
            packets.push_back(std::move(*p));
    }
    return packets;
}

} // namespace

TEST(SiteFraming, EncodesTheReferenceByteSequences) {
    EXPECT_EQ(encodeViewerValue(KeepAlive, 0),
              hex({0x54, 0x4F, 0x50, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x45, 0x4F,
                   0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));
    EXPECT_EQ(encodeViewerPacket(RunProgram),
              hex({0x54, 0x4F, 0x50, 0x00, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x45, 0x4F, 0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));
    EXPECT_EQ(encodeSitePacket(LoginRequest, 0, 0),
              hex({0x54, 0x4F, 0x50, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x45, 0x4F,
                   0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));
    // Parameters and length sit at 8, 12 and 16 of the site's header, little-endian.
    const auto frame = encodeSitePacket(VideoFrame, 3, 0x01020304, hex({9, 9}));
    ASSERT_EQ(frame.size(), 24u + 2 + 8);
    EXPECT_EQ(readLe32(frame.data() + 8), 3);
    EXPECT_EQ(readLe32(frame.data() + 12), 0x01020304);
    EXPECT_EQ(frame[12], 0x04);
    EXPECT_EQ(readLe32(frame.data() + 16), 2);
}

TEST(SiteFraming, ReassemblesPacketsFromAnyChunking) {
    std::vector<uint8_t> stream = {'x', 'T', 'O', 'P'}; // garbage, including a marker without NUL
    for (const auto& p :
         {encodeViewerValue(OpenChannel, 7), encodeViewerPacket(CloseSite), encodeViewerValue(KeepAlive, 0)})
        stream.insert(stream.end(), p.begin(), p.end());
    for (const size_t chunk : {size_t{1}, size_t{5}, size_t{23}, stream.size()}) {
        PacketReader reader(Layout::Viewer);
        const auto packets = readAll(reader, stream, chunk);
        ASSERT_EQ(packets.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(packets[0].type, OpenChannel);
        EXPECT_EQ(readLe32(packets[0].payload.data()), 7);
        EXPECT_EQ(packets[1].type, CloseSite);
        EXPECT_TRUE(packets[1].payload.empty());
        EXPECT_EQ(packets[2].type, KeepAlive);
        EXPECT_EQ(reader.skippedBytes(), 4u);
        EXPECT_EQ(reader.heldBytes(), 0u);
    }
}

TEST(SiteFraming, SiteLayoutCarriesParameters) {
    PacketReader reader(Layout::Site);
    const auto bytes = encodeSitePacket(ChannelClosed, -5, 1002, hex({1, 2, 3}));
    const auto packets = readAll(reader, bytes, 7);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].type, ChannelClosed);
    EXPECT_EQ(packets[0].param1, -5);
    EXPECT_EQ(packets[0].param2, 1002);
    EXPECT_EQ(packets[0].payload, hex({1, 2, 3}));
}

TEST(SiteFraming, DamagedOrHostileHeadersAreSkippedAndLaterPacketsSurvive) {
    // Length says 10 but the trailer follows 4 bytes of payload.
    auto damaged = encodeViewerValue(OpenChannel, 1);
    writeLe32(damaged.data() + 8, 10);
    // A negative and an enormous length must not be trusted.
    auto negative = encodeViewerValue(OpenChannel, 2);
    writeLe32(negative.data() + 8, -4);
    auto huge = encodeViewerValue(OpenChannel, 3);
    writeLe32(huge.data() + 8, 0x7fffffff);
    // "TOP"+NUL without "EOF"+NUL at offset 12 is no header.
    auto noEof = encodeViewerValue(OpenChannel, 4);
    noEof[12] = 'X';
    std::vector<uint8_t> stream;
    for (const auto& p : {damaged, negative, huge, noEof, encodeViewerValue(FixChannel, 5)})
        stream.insert(stream.end(), p.begin(), p.end());
    PacketReader reader(Layout::Viewer, 4096);
    const auto packets = readAll(reader, stream, 3);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].type, FixChannel);
    EXPECT_EQ(readLe32(packets[0].payload.data()), 5);
}

TEST(SiteFraming, WaitsForAnIncompletePacket) {
    PacketReader reader(Layout::Viewer);
    const auto packet = encodeViewerValue(OpenChannel, 1);
    reader.feed(std::span(packet).first(packet.size() - 1));
    EXPECT_FALSE(reader.next());
    reader.feed(std::span(packet).last(1));
    EXPECT_TRUE(reader.next());
}

TEST(SiteFraming, FieldTextStopsAtNulOrFieldEnd) {
    const uint8_t withNul[4] = {'a', 'b', 0, 'c'};
    const uint8_t full[3] = {'x', 'y', 'z'};
    EXPECT_EQ(fieldText(withNul), "ab");
    EXPECT_EQ(fieldText(full), "xyz");
}
