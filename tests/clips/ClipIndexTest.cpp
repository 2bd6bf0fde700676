#include "clips/core/ClipIndex.h"
#include "app/core/ChannelTable.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

constexpr const char* kContainer = "software\\Kestrel-Lookout\\RemoteRecord";

ClipRecord Clip(const std::string& fileName, int32_t channel) {
    return {fileName, 0,          channel,      "caller's text, dropped", "2024/03/05", "14:07", "2024/03/05",
            "14:09",  "clip.img", "/srv/clips/"};
}

// All ten fields in one line, for whole-record comparisons.
std::string Fields(const ClipRecord& r) {
    return r.FileName + "|" + std::to_string(r.Open) + "|" + std::to_string(r.Channel) + "|" + r.Location +
           "|" + r.SDate + "|" + r.STime + "|" + r.EDate + "|" + r.ETime + "|" + r.ImageName + "|" + r.Path;
}

class ClipIndexTest : public ::testing::Test {
protected:
    void SetUp() override { m_channels.replace({{3, "Loading bay"}, {7, "Gate"}}); }
    std::string raw(const std::string& fileName, const char* value) {
        auto v = m_store.openKey(kContainer + "\\"s + fileName).queryValue(value);
        return v ? v->data : "<missing>";
    }
    std::vector<ClipRecord> load() {
        std::vector<ClipRecord> records;
        m_index.LoadClipRecords(records);
        return records;
    }

    TempDir m_dir;
    RegistryStore m_store{m_dir.file("user.sqlite")};
    ChannelTable m_channels;
    ClipIndex m_index{m_store, m_channels};
};

TEST_F(ClipIndexTest, WithoutAnIndexNothingLoadsAndNothingIsCreated) {
    std::vector<ClipRecord> records{Clip("kept.avi", 1)};
    m_index.LoadClipRecords(records);
    EXPECT_EQ(records.size(), 1u);
    m_index.MarkClipRead("a.avi", true);
    EXPECT_FALSE(m_index.DeleteClipRecord("a.avi"));
    EXPECT_FALSE(m_store.openKey("software"));

    RegistryStore broken(m_dir.path()); // a folder is no store file
    ClipIndex unusable(broken, m_channels);
    ClipRecord record = Clip("a.avi", 7);
    EXPECT_FALSE(unusable.SaveClipRecord(record));
    EXPECT_EQ(record.Location, "Gate");
    unusable.LoadClipRecords(records);
    EXPECT_EQ(records.size(), 1u);
}

TEST_F(ClipIndexTest, SaveStoresTenValuesWithLocationFromTheChannelTable) {
    ClipRecord record = Clip("cam3.avi", 3);
    ASSERT_TRUE(m_index.SaveClipRecord(record));
    EXPECT_EQ(record.Location, "Loading bay");
    EXPECT_EQ(m_store.openKey(kContainer + "\\cam3.avi"s).values().size(), 10u);
    // Texts without terminating zero, numbers as 4 little-endian bytes.
    std::string stored;
    for (const char* v : {"FileName", "Location", "SDate", "STime", "EDate", "ETime", "ImageName", "Path"})
        stored += raw("cam3.avi", v) + "|";
    EXPECT_EQ(stored, "cam3.avi|Loading bay|2024/03/05|14:07|2024/03/05|14:09|clip.img|/srv/clips/|");
    EXPECT_EQ(raw("cam3.avi", "Channel") + raw("cam3.avi", "Open"), "\x03\0\0\0\0\0\0\0"s);

    ClipRecord unnamed = Clip("cam9.avi", 9); // channel not in the table
    ASSERT_TRUE(m_index.SaveClipRecord(unnamed));
    EXPECT_EQ(raw("cam9.avi", "Location"), "");

    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Fields(records[0]), Fields(record));
    EXPECT_EQ(Fields(records[1]), Fields(unnamed));
}

TEST_F(ClipIndexTest, SavingTheSameFileNameOverwritesEveryValueExactly) {
    ClipRecord first = Clip("clip.avi", 3);
    first.Path = "/a/much/longer/folder/than/the/next/";
    first.Open = 1;
    ASSERT_TRUE(m_index.SaveClipRecord(first));
    ClipRecord second{"clip.avi", 0, 7, "", "2025/01/02", "01:02", "2025/01/03", "03:04", "x.img", "/b/"};
    ASSERT_TRUE(m_index.SaveClipRecord(second));

    EXPECT_EQ(raw("clip.avi", "Path"), "/b/");
    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(Fields(records[0]), "clip.avi|0|7|Gate|2025/01/02|01:02|2025/01/03|03:04|x.img|/b/");
}

TEST_F(ClipIndexTest, MarkClipReadNeedsTheExactSpellingAndCreatesNothing) {
    ClipRecord record = Clip("Cam3.avi", 3);
    ASSERT_TRUE(m_index.SaveClipRecord(record));
    m_index.MarkClipRead("cam3.avi", true);
    m_index.MarkClipRead("CAM3.AVI", true);
    EXPECT_EQ(load()[0].Open, 0);
    m_index.MarkClipRead("Cam3.avi", true);
    EXPECT_EQ(load()[0].Open, 1);
    m_index.MarkClipRead("Cam3.avi", false);
    EXPECT_EQ(raw("Cam3.avi", "Open"), "\0\0\0\0"s);

    for (const char* absent : {"Other.avi", "Cam3.avi\\deeper", ""})
        m_index.MarkClipRead(absent, true);
    EXPECT_EQ(m_store.openKey(kContainer).subkeyCount(), 1u);
    EXPECT_EQ(m_store.openKey(kContainer + "\\Cam3.avi"s).subkeyCount(), 0u);
}

TEST_F(ClipIndexTest, NamesThatCannotBeKeysAreRefusedAndDeleteTakesOneEntry) {
    for (std::string bad : {""s, "day\\clip.avi"s, std::string(260, 'c'), "a\0b.avi"s}) {
        ClipRecord record = Clip(bad, 3);
        EXPECT_FALSE(m_index.SaveClipRecord(record)) << bad;
    }
    EXPECT_FALSE(m_store.openKey(kContainer));

    ClipRecord longest = Clip(std::string(259, 'c'), 3), other = Clip("b.avi", 7);
    ASSERT_TRUE(m_index.SaveClipRecord(longest));
    ASSERT_TRUE(m_index.SaveClipRecord(other));
    EXPECT_FALSE(m_index.DeleteClipRecord("b.avi\\x"));
    EXPECT_TRUE(m_index.DeleteClipRecord(longest.FileName));
    EXPECT_FALSE(m_index.DeleteClipRecord(longest.FileName));
    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].FileName, "b.avi");
}

// Entries written by other means (older versions, hand edits).
TEST_F(ClipIndexTest, IncompleteOrOversizedEntriesLoadSafely) {
    RegistryKey sparse = m_store.createKey(kContainer + "\\sparse.avi"s);
    ASSERT_TRUE(sparse.setString("FileName", "value-name.avi"));
    ASSERT_TRUE(sparse.setString("Path", std::string(400, 'p')));
    ASSERT_TRUE(sparse.setString("SDate", "2024/03/05\0garbage"s));
    ASSERT_TRUE(sparse.setDword("Open", 5));
    ASSERT_TRUE(sparse.setString("Channel", "12")); // not a 4-byte number
    ASSERT_TRUE(
        m_store.createKey(kContainer + "\\"s + std::string(300, 'k')).setString("FileName", "skipped"));

    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(Fields(records[0]), "value-name.avi|1|0||2024/03/05|||||" + std::string(259, 'p'));
}

} // namespace
