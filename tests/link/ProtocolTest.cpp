#include "Protocol.h"
#include "ChannelChoice.h"
#include "LinkDoubles.h"
#include "RemoteControl.h"
#include "TileLayout.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Hex(std::initializer_list<int> values) {
    return {values.begin(), values.end()};
}

std::vector<uint8_t> ChannelRecord(int32_t number, const std::string& name) {
    std::vector<uint8_t> record(ChannelEntry::kRecordSize, 0);
    WriteInt32(record.data(), number);
    std::memcpy(record.data() + 4, name.data(), std::min(name.size(), ChannelEntry::kNameField));
    return record;
}

} // namespace

TEST(OutboundPackets, KeepAliveAndEmptyRunProgramAreTheExactBytes) {
    RecordingQueue keepAlive;
    SendValue(keepAlive, OutboundType::KeepAlive, 0);
    EXPECT_EQ(keepAlive.blocks.size(), 3u) << "header, payload and trailer are separate blocks";
    EXPECT_EQ(keepAlive.bytes(),
              Hex({0x54, 0x4F, 0x50, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x45, 0x4F,
                   0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));

    RecordingQueue run;
    SendRunProgram(run, "");
    EXPECT_EQ(run.blocks.size(), 2u) << "no payload block when empty";
    EXPECT_EQ(run.bytes(), Hex({0x54, 0x4F, 0x50, 0x00, 0x16, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0x45, 0x4F, 0x46, 0x00, 0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00}));
}

TEST(OutboundPackets, RemoteControlPacketsCarryTheirTypeAndCommandLine) {
    RecordingQueue queue;
    SendCloseSite(queue);
    SendRebootSite(queue);
    const std::string fifty(50, 'c');
    SendRunProgram(queue, fifty);
    const auto packets = SplitOutbound(queue.bytes());
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].type, 20);
    EXPECT_TRUE(packets[0].payload.empty());
    EXPECT_EQ(packets[1].type, 21);
    EXPECT_TRUE(packets[1].payload.empty());
    EXPECT_EQ(packets[2].type, 22);
    ASSERT_EQ(packets[2].payload.size(), 51u);
    EXPECT_EQ(packets[2].payload.back(), 0);
    EXPECT_EQ(std::string(packets[2].payload.begin(), packets[2].payload.end() - 1), fifty);
}

TEST(LoginRecord, TextFieldsAreCutAtTwentyBytesWithoutTerminatorWhenFull) {
    const std::string twenty = "abcdefghijklmnopqrst";
    auto record = BuildLoginRecord({twenty, "pw", 1, 55});
    EXPECT_EQ(std::string(record.begin(), record.begin() + 20), twenty);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 20)), "pw");
    EXPECT_EQ(ReadInt32(record.data() + 40), 1);
    EXPECT_EQ(ReadInt32(record.data() + 44), 55);

    record = BuildLoginRecord({twenty + "XYZ", twenty + "UVW", 1, 30});
    EXPECT_EQ(std::string(record.begin(), record.begin() + 20), twenty);
    EXPECT_EQ(std::string(record.begin() + 20, record.begin() + 40), twenty);
    EXPECT_EQ(ReadInt32(record.data() + 40), 1) << "the overlong texts never spill into other fields";
}

TEST(LoginRecord, ImageSizeAndQualityAreNormalised) {
    struct Case {
        int32_t formatSize, quality, sentSize, sentQuality;
    };
    for (const Case& c : {Case{1, 0, 1, 0}, Case{0, 100, 0, 100}, Case{2, 101, 0, 30}, Case{-1, -1, 0, 30}}) {
        const auto record = BuildLoginRecord({"u", "p", c.formatSize, c.quality});
        EXPECT_EQ(ReadInt32(record.data() + 40), c.sentSize) << c.formatSize;
        EXPECT_EQ(ReadInt32(record.data() + 44), c.sentQuality) << c.quality;
        EXPECT_TRUE(std::all_of(record.begin() + 1, record.begin() + 20, [](uint8_t b) { return b == 0; }));
    }
}

TEST(InboundPayloads, ChannelListReadsOnlyWholeEntriesPresent) {
    const auto payload = Concat({ChannelRecord(3, "Gate"), ChannelRecord(0, "Zero"), ChannelRecord(-1, "Neg"),
                                 ChannelRecord(7, std::string(40, 'N'))});
    auto entries = ParseChannelList(4, payload);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "Gate");
    EXPECT_EQ(entries[3].name, std::string(32, 'N')) << "a name without NUL ends at its field";

    EXPECT_EQ(ParseChannelList(100, payload).size(), 4u);
    std::vector<uint8_t> ragged(payload.begin(), payload.end() - 1);
    EXPECT_EQ(ParseChannelList(4, ragged).size(), 3u);
    EXPECT_TRUE(ParseChannelList(-1, payload).empty());
    EXPECT_TRUE(ParseChannelList(INT32_MIN, payload).empty());
    EXPECT_TRUE(ParseChannelList(2, {}).empty());

    ChannelTable table;
    table.Replace(entries);
    ASSERT_EQ(table.rows().size(), 2u) << "only positive channel numbers are kept";
    EXPECT_EQ(table.GetChannelName(7), std::string(32, 'N'));
}

TEST(InboundPayloads, SiteRecordIsAlwaysThreeHundredBytes) {
    std::vector<uint8_t> shortPayload(10, 'a');
    auto record = SiteRecordFromPayload(shortPayload);
    EXPECT_EQ(record[9], 'a');
    EXPECT_TRUE(std::all_of(record.begin() + 10, record.end(), [](uint8_t b) { return b == 0; }));
    std::vector<uint8_t> longPayload(400, 'b');
    record = SiteRecordFromPayload(longPayload);
    EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](uint8_t b) { return b == 'b'; }));
    record = SiteRecordFromPayload({});
    EXPECT_TRUE(std::all_of(record.begin(), record.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ChannelChoice, LabelsAndTheirRoundTrip) {
    EXPECT_EQ(ChannelLabel(3, "Gate"), "0003 Gate");
    EXPECT_EQ(ChannelLabel(-5, "Odd"), "-005 Odd");
    EXPECT_EQ(ChannelFromChoice("0003 Gate"), 3);
    EXPECT_EQ(ChannelFromChoice("-005 Odd"), -5);
    EXPECT_EQ(ChannelFromChoice(ChannelLabel(9999, "Max")), 9999);
    EXPECT_EQ(ChannelFromChoice(ChannelLabel(12345, "Big")), 1234) << "five digits do not survive";
    EXPECT_EQ(ChannelFromChoice(""), 0);
    EXPECT_EQ(ChannelFromChoice("12x4 name"), 12);

    ChannelTable table;
    table.Replace({{12, "Yard"}, {3, "Gate"}, {100, "Hall"}});
    EXPECT_EQ(ChannelChoiceLines(table), QStringList({"0003 Gate", "0012 Yard", "0100 Hall"}));
}

TEST(TileLayout, GridsCellsAndMargins) {
    // Three windows in 1000 x 600: 2 x 2 of 500 x 375 is too tall, so 400 x 300.
    auto three = TileLayout::Compute(3, {1000, 600});
    ASSERT_TRUE(three);
    EXPECT_EQ(three->cols, 2);
    EXPECT_EQ(three->rows, 2);
    EXPECT_EQ(three->Cell(0), QRect(100, 0, 400, 300));
    EXPECT_EQ(three->Cell(2), QRect(100, 300, 400, 300));

    auto five = TileLayout::Compute(5, {1000, 600});
    ASSERT_TRUE(five);
    EXPECT_EQ(five->Cell(0), QRect(0, 51, 333, 249));
    EXPECT_EQ(five->Cell(4), QRect(333, 300, 333, 249)) << "fifth window: row 2, column 2";

    struct Shape {
        int n, cols, rows;
    };
    for (const Shape& s :
         {Shape{1, 1, 1}, Shape{2, 2, 1}, Shape{4, 2, 2}, Shape{10, 4, 3}, Shape{64, 8, 8}}) {
        auto layout = TileLayout::Compute(s.n, {1000, 600});
        ASSERT_TRUE(layout) << s.n;
        EXPECT_EQ(layout->cols, s.cols) << s.n;
        EXPECT_EQ(layout->rows, s.rows) << s.n;
    }
    EXPECT_FALSE(TileLayout::Compute(0, {1000, 600}));
    EXPECT_FALSE(TileLayout::Compute(65, {1000, 600}));
}
