#include "link/ChannelChoice.h"
#include "link/RemoteControl.h"
#include "link/TileLayout.h"
#include "tests/link/LinkDoubles.h"

#include <gtest/gtest.h>

TEST(OutboundPackets, ExactBytesOfKeepAliveAndRemoteControl) {
    RecordingQueue keepAlive;
    SendValue(keepAlive, OutboundType::KeepAlive, 0);
    EXPECT_EQ(keepAlive.blocks.size(), 3u) << "header, payload and trailer are separate blocks";
    EXPECT_EQ(keepAlive.bytes(),
              std::vector<uint8_t>({0x54, 0x4F, 0x50, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x00,
                                    0x00, 0x00, 0x45, 0x4F, 0x46, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));
    RecordingQueue run;
    sendRunProgram(run, "");
    EXPECT_EQ(run.bytes(),
              std::vector<uint8_t>({0x54, 0x4F, 0x50, 0x00, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x45, 0x4F, 0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));

    RecordingQueue queue;
    sendCloseSite(queue);
    sendRebootSite(queue);
    sendRunProgram(queue, std::string(50, 'c'));
    const auto packets = splitOutbound(queue.bytes());
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].type, 20);
    EXPECT_EQ(packets[1].type, 21);
    EXPECT_TRUE(packets[1].payload.empty());
    EXPECT_EQ(packets[2].payload.size(), 51u);
    EXPECT_EQ(packets[2].payload.back(), 0);
}

TEST(LoginRecord, FieldsNeverOverflowAndValuesAreNormalised) {
    const std::string twenty = "abcdefghijklmnopqrst";
    auto record = buildLoginRecord({twenty, "pw", 1, 55});
    EXPECT_EQ(std::string(record.begin(), record.begin() + 22), twenty + "pw") << "no terminator when full";
    EXPECT_EQ(readInt32(record.data() + 44), 55);
    record = buildLoginRecord({twenty + "XYZ", twenty + "UVW", 1, 30});
    EXPECT_EQ(std::string(record.begin(), record.begin() + 40), twenty + twenty);
    EXPECT_EQ(readInt32(record.data() + 40), 1);

    struct Case {
        int32_t formatSize, quality, sentSize, sentQuality;
    };
    for (const Case& c : {Case{1, 0, 1, 0}, Case{0, 100, 0, 100}, Case{2, 101, 0, 30}, Case{-1, -1, 0, 30}}) {
        record = buildLoginRecord({"u", "p", c.formatSize, c.quality});
        EXPECT_EQ(readInt32(record.data() + 40), c.sentSize) << c.formatSize;
        EXPECT_EQ(readInt32(record.data() + 44), c.sentQuality) << c.quality;
    }
}

TEST(InboundPayloads, ChannelListAndSiteRecordStayInsideThePayload) {
    std::vector<uint8_t> payload(3 * ChannelEntry::kRecordSize, 'N');
    writeInt32(payload.data(), 3);
    payload[4 + 4] = 0; // "NNNN"
    EXPECT_EQ(parseChannelList(3, payload).at(0).name, "NNNN");
    EXPECT_EQ(parseChannelList(3, payload).at(1).name, std::string(32, 'N'))
        << "a name without NUL ends at its field";
    EXPECT_EQ(parseChannelList(100, payload).size(), 3u);
    EXPECT_EQ(parseChannelList(3, std::span(payload).first(payload.size() - 1)).size(), 2u);
    EXPECT_TRUE(parseChannelList(-1, payload).empty());
    EXPECT_TRUE(parseChannelList(INT32_MIN, payload).empty());

    auto record = siteRecordFromPayload(std::vector<uint8_t>(10, 'a'));
    EXPECT_EQ(record[9], 'a');
    EXPECT_TRUE(std::all_of(record.begin() + 10, record.end(), [](uint8_t b) { return b == 0; }));
    record = siteRecordFromPayload(std::vector<uint8_t>(400, 'b'));
    EXPECT_EQ(record.back(), 'b');
}

TEST(ChannelChoice, LabelsAndTheirRoundTrip) {
    EXPECT_EQ(channelLabel(3, "Gate"), "0003 Gate");
    EXPECT_EQ(channelLabel(4, "S\xFC"
                              "dtor"),
              QStringLiteral("0004 S\u00FCdtor"))
        << "names are Latin-1, not UTF-8";
    EXPECT_EQ(channelFromChoice(channelLabel(-5, "Odd")), -5);
    EXPECT_EQ(channelFromChoice(channelLabel(9999, "Max")), 9999);
    EXPECT_EQ(channelFromChoice(channelLabel(12345, "Big")), 1234) << "five digits do not survive";
    EXPECT_EQ(channelFromChoice(""), 0);
    ChannelTable table;
    table.replace({{12, "Yard"}, {3, "Gate"}, {100, "Hall"}});
    EXPECT_EQ(channelChoiceLines(table), QStringList({"0003 Gate", "0012 Yard", "0100 Hall"}));
}

TEST(TileLayout, GridsCellsAndMargins) {
    auto three = TileLayout::compute(3, {1000, 600}); // 500 x 375 cells are too tall: 400 x 300
    EXPECT_EQ(three->cell(0), QRect(100, 0, 400, 300));
    EXPECT_EQ(three->cell(2), QRect(100, 300, 400, 300));
    auto five = TileLayout::compute(5, {1000, 600});
    EXPECT_EQ(five->cell(0), QRect(0, 51, 333, 249));
    EXPECT_EQ(five->cell(4), QRect(333, 300, 333, 249));
    for (auto [n, cols, rows] : {std::tuple{2, 2, 1}, {10, 4, 3}, {64, 8, 8}}) {
        EXPECT_EQ(TileLayout::compute(n, {1000, 600})->cols, cols) << n;
        EXPECT_EQ(TileLayout::compute(n, {1000, 600})->rows, rows) << n;
    }
    EXPECT_FALSE(TileLayout::compute(0, {1000, 600}));
    EXPECT_FALSE(TileLayout::compute(65, {1000, 600}));
}
