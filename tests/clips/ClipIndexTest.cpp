#include "ClipIndex.h"
#include "ChannelTable.h"
#include "RegistryStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

constexpr const char* kContainer = "software\\Kestrel-Lookout\\RemoteRecord";

ClipRecord Clip(const std::string& fileName, int32_t channel) {
    ClipRecord r;
    r.FileName = fileName;
    r.Channel = channel;
    r.Location = "caller's text, dropped";
    r.SDate = "2024/03/05";
    r.STime = "14:07";
    r.EDate = "2024/03/05";
    r.ETime = "14:09";
    r.ImageName = fileName.substr(0, fileName.find('.')) + ".img";
    r.Path = "/srv/clips/";
    return r;
}

class ClipIndexTest : public ::testing::Test {
protected:
    void SetUp() override { m_channels.Replace({{3, "Loading bay"}, {7, "Gate"}}); }

    std::string entryKey(const std::string& fileName) { return std::string(kContainer) + "\\" + fileName; }
    std::optional<RegValue> raw(const std::string& fileName, const char* value) {
        return m_store.openKey(entryKey(fileName)).queryValue(value);
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
    m_index.MarkClipRead("20240305140700_3.avi", true);
    EXPECT_FALSE(m_index.DeleteClipRecord("20240305140700_3.avi"));
    EXPECT_FALSE(m_store.openKey(kContainer));
    EXPECT_FALSE(m_store.openKey("software"));
}

TEST_F(ClipIndexTest, SaveWritesTenValuesWithLocationFromTheChannelTable) {
    ClipRecord record = Clip("20240305140700_3.avi", 3);
    ASSERT_TRUE(m_index.SaveClipRecord(record));
    EXPECT_EQ(record.Location, "Loading bay");

    const std::string name = record.FileName;
    std::vector<NamedValue> values = m_store.openKey(entryKey(name)).values();
    EXPECT_EQ(values.size(), 10u);
    struct Expect {
        const char* value;
        std::string data;
    };
    for (const Expect& e :
         {Expect{"FileName", name}, Expect{"Location", "Loading bay"}, Expect{"SDate", "2024/03/05"},
          Expect{"STime", "14:07"}, Expect{"EDate", "2024/03/05"}, Expect{"ETime", "14:09"},
          Expect{"ImageName", "20240305140700_3.img"}, Expect{"Path", "/srv/clips/"}}) {
        auto v = raw(name, e.value);
        ASSERT_TRUE(v) << e.value;
        EXPECT_EQ(v->type, RegType::String) << e.value;
        EXPECT_EQ(v->data, e.data) << e.value; // no terminating zero stored
    }
    EXPECT_EQ(raw(name, "Channel")->type, RegType::Dword);
    EXPECT_EQ(raw(name, "Channel")->data, "\x03\0\0\0"s);
    EXPECT_EQ(raw(name, "Open")->data, "\0\0\0\0"s);

    // A channel missing from the table stores an empty Location.
    ClipRecord unnamed = Clip("20240305140700_9.avi", 9);
    ASSERT_TRUE(m_index.SaveClipRecord(unnamed));
    EXPECT_EQ(unnamed.Location, "");
    EXPECT_EQ(raw(unnamed.FileName, "Location")->data, "");

    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 2u);
    const ClipRecord& r = records[0];
    EXPECT_EQ(r.FileName, name);
    EXPECT_EQ(r.Open, 0);
    EXPECT_EQ(r.Channel, 3);
    EXPECT_EQ(r.Location, "Loading bay");
    EXPECT_EQ(r.SDate, "2024/03/05");
    EXPECT_EQ(r.STime, "14:07");
    EXPECT_EQ(r.EDate, "2024/03/05");
    EXPECT_EQ(r.ETime, "14:09");
    EXPECT_EQ(r.ImageName, "20240305140700_3.img");
    EXPECT_EQ(r.Path, "/srv/clips/");
    EXPECT_EQ(records[1].Channel, 9);
}

TEST_F(ClipIndexTest, SavingTheSameFileNameOverwritesEveryValueExactly) {
    ClipRecord first = Clip("clip.avi", 3);
    first.Path = "/a/much/longer/folder/than/the/next/";
    first.Open = 1;
    ASSERT_TRUE(m_index.SaveClipRecord(first));

    ClipRecord second;
    second.FileName = "clip.avi";
    second.Channel = 7;
    second.SDate = "2025/01/02";
    second.STime = "01:02";
    second.EDate = "2025/01/03";
    second.ETime = "03:04";
    second.ImageName = "x.img";
    second.Path = "/b/";
    ASSERT_TRUE(m_index.SaveClipRecord(second));

    EXPECT_EQ(raw("clip.avi", "Path")->data, "/b/");
    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    const ClipRecord& r = records[0];
    EXPECT_EQ(r.Open, 0);
    EXPECT_EQ(r.Channel, 7);
    EXPECT_EQ(r.Location, "Gate");
    EXPECT_EQ(r.SDate, "2025/01/02");
    EXPECT_EQ(r.STime, "01:02");
    EXPECT_EQ(r.EDate, "2025/01/03");
    EXPECT_EQ(r.ETime, "03:04");
    EXPECT_EQ(r.ImageName, "x.img");
    EXPECT_EQ(r.Path, "/b/");
}

TEST_F(ClipIndexTest, MarkClipReadNeedsTheExactSpelling) {
    ClipRecord record = Clip("Cam3.avi", 3);
    ASSERT_TRUE(m_index.SaveClipRecord(record));

    m_index.MarkClipRead("cam3.avi", true);
    m_index.MarkClipRead("CAM3.AVI", true);
    EXPECT_EQ(raw("Cam3.avi", "Open")->dword(), 0u);

    m_index.MarkClipRead("Cam3.avi", true);
    EXPECT_EQ(raw("Cam3.avi", "Open")->dword(), 1u);
    EXPECT_EQ(load()[0].Open, 1);
    m_index.MarkClipRead("Cam3.avi", false);
    EXPECT_EQ(raw("Cam3.avi", "Open")->dword(), 0u);

    // Unknown names, including ones that would address nested keys, create nothing.
    m_index.MarkClipRead("Other.avi", true);
    m_index.MarkClipRead("Cam3.avi\\deeper", true);
    m_index.MarkClipRead("", true);
    EXPECT_EQ(m_store.openKey(kContainer).subkeyCount(), 1u);
    EXPECT_EQ(m_store.openKey(entryKey("Cam3.avi")).subkeyCount(), 0u);
}

TEST_F(ClipIndexTest, FileNamesThatCannotBeKeysAreRefused) {
    for (std::string bad : {""s, "day\\clip.avi"s, std::string(260, 'c'), "a\0b.avi"s}) {
        ClipRecord record = Clip(bad, 3);
        EXPECT_FALSE(m_index.SaveClipRecord(record)) << bad.size();
    }
    EXPECT_FALSE(m_store.openKey(kContainer));

    ClipRecord longest = Clip(std::string(259, 'c'), 3);
    ASSERT_TRUE(m_index.SaveClipRecord(longest));
    EXPECT_EQ(load().size(), 1u);
    EXPECT_FALSE(m_index.DeleteClipRecord("x\\y"));
    EXPECT_TRUE(m_index.DeleteClipRecord(longest.FileName));
    EXPECT_TRUE(load().empty());
}

TEST_F(ClipIndexTest, DeleteRemovesOnlyThatEntry) {
    ClipRecord a = Clip("a.avi", 3), b = Clip("b.avi", 7);
    ASSERT_TRUE(m_index.SaveClipRecord(a));
    ASSERT_TRUE(m_index.SaveClipRecord(b));
    EXPECT_TRUE(m_index.DeleteClipRecord("a.avi"));
    EXPECT_FALSE(m_index.DeleteClipRecord("a.avi"));
    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].FileName, "b.avi");
}

// Entries written by other means (older versions, hand edits).
TEST_F(ClipIndexTest, IncompleteOrOversizedEntriesLoadSafely) {
    RegistryKey sparse = m_store.createKey(entryKey("sparse.avi"));
    ASSERT_TRUE(sparse.setString("FileName", "value-name.avi"));
    ASSERT_TRUE(sparse.setString("Path", std::string(400, 'p')));
    ASSERT_TRUE(sparse.setString("SDate", "2024/03/05\0garbage"s));
    ASSERT_TRUE(sparse.setDword("Open", 5));
    ASSERT_TRUE(sparse.setString("Channel", "12")); // not a 4-byte number
    ASSERT_TRUE(m_store.createKey(entryKey(std::string(300, 'k'))).setString("FileName", "skipped"));

    std::vector<ClipRecord> records = load();
    ASSERT_EQ(records.size(), 1u);
    const ClipRecord& r = records[0];
    EXPECT_EQ(r.FileName, "value-name.avi"); // the value, not the key name
    EXPECT_EQ(r.Path, std::string(259, 'p'));
    EXPECT_EQ(r.SDate, "2024/03/05");
    EXPECT_EQ(r.Location, "");
    EXPECT_EQ(r.STime, "");
    EXPECT_EQ(r.ImageName, "");
    EXPECT_EQ(r.Open, 1);
    EXPECT_EQ(r.Channel, 0);
}

TEST_F(ClipIndexTest, AnUnusableStoreFailsQuietly) {
    RegistryStore broken(m_dir.path());
    ClipIndex index(broken, m_channels);
    ClipRecord record = Clip("a.avi", 7);
    EXPECT_FALSE(index.SaveClipRecord(record));
    EXPECT_EQ(record.Location, "Gate");
    EXPECT_FALSE(index.DeleteClipRecord("a.avi"));
    index.MarkClipRead("a.avi", true);
    std::vector<ClipRecord> records;
    index.LoadClipRecords(records);
    EXPECT_TRUE(records.empty());
}

} // namespace
