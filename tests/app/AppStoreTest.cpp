#include "app/core/AppStore.h"
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sys/statvfs.h>
#include <tuple>

namespace {

using namespace std::string_literals;

constexpr const char* kSetting = "software\\Kestrel-Lookout\\Dialscope\\Setting";
constexpr const char* kKey = "software\\Kestrel-Lookout\\Dialscope\\Key";
constexpr const char* kCall = "software\\Kestrel-Lookout\\Dialscope\\Call";
constexpr const char* kPhones = "software\\Kestrel-Lookout\\RemotePhone";
constexpr const char* kEvents = "software\\Kestrel-Lookout\\RemotePerson";

class AppStoreTest : public ::testing::Test {
protected:
    std::string raw(const std::string& key, const char* name) {
        auto v = m_user.openKey(key).queryValue(name);
        return v ? v->data : "<missing>";
    }
    void put(const std::string& key, const char* name, const RegValue& value) {
        ASSERT_TRUE(m_user.createKey(key).setValue(name, value));
    }

    TempDir m_dir;
    RegistryStore m_user{m_dir.file("user.sqlite")};
    RegistryStore m_machine{m_dir.file("machine.sqlite")};
    AppStore m_store{m_user, m_machine};
};

TEST_F(AppStoreTest, SettingsDefaultsAndStoredForm) {
    // A read on an empty store leaves the key chain behind, without values.
    EXPECT_EQ(m_store.GetSetting(AppStore::kMonitor), -1);
    ASSERT_TRUE(m_user.openKey(kSetting));
    EXPECT_TRUE(m_user.openKey(kSetting).values().empty());

    EXPECT_TRUE(m_store.videoArrange());
    EXPECT_EQ(m_store.limitDiskSpace(), 50u);
    EXPECT_EQ(m_store.checkTimer(), 10u);
    EXPECT_EQ(m_store.modem(), -1);
    EXPECT_FALSE(m_store.autoRun());

    struct Case {
        int id;
        int32_t stored;
        int64_t reads;
    };
    for (Case c : {Case{10, 0, 50},
                   {10, 9999, 9999},
                   {10, 10000, 50},
                   {10, -5, 50},
                   {11, 300, 300},
                   {11, 301, 10},
                   {11, 0, 10},
                   {1, 0, 0},
                   {1, 7, 1},
                   {50, 1, 1},
                   {50, 2, 0},
                   {30, 3, 3}}) {
        ASSERT_TRUE(m_store.SetSetting(c.id, c.stored));
        int64_t got = c.id == 10   ? m_store.limitDiskSpace()
                      : c.id == 11 ? m_store.checkTimer()
                      : c.id == 1  ? m_store.videoArrange()
                      : c.id == 50 ? m_store.autoRun()
                                   : m_store.modem();
        EXPECT_EQ(got, c.reads) << "setting " << c.id << " stored as " << c.stored;
    }

    ASSERT_TRUE(m_store.SetSetting(AppStore::kLimitDiskSpace, 0x01020304));
    EXPECT_EQ(m_user.openKey(kSetting).queryValue("LimitDiskSpace")->type, RegType::Dword);
    EXPECT_EQ(raw(kSetting, "LimitDiskSpace"), "\x04\x03\x02\x01"s);
    EXPECT_FALSE(m_store.SetSetting(2, 5)); // no such identifier
    EXPECT_EQ(m_store.GetSetting(2), -1);
    // Names match regardless of case; a value of another type is no setting.
    put("SOFTWARE\\kestrel-lookout\\DIALSCOPE\\setting", "checktimer", RegValue::fromDword(42));
    EXPECT_EQ(m_store.GetSetting(AppStore::kCheckTimer), 42);
    put(kSetting, "Modem", RegValue::fromString("\x01\x00\x00\x00"s));
    EXPECT_EQ(m_store.GetSetting(AppStore::kModem), -1);
}

TEST_F(AppStoreTest, ProfileTextsKeepTheirZeroAndThePasswordCheckIsExact) {
    EXPECT_TRUE(m_store.CheckAppPassword("", "")); // nothing stored yet
    EXPECT_FALSE(m_store.CheckAppPassword("a", ""));

    ASSERT_TRUE(m_store.setClassName("DialscopeMainWindow"));
    ASSERT_TRUE(m_store.SaveAppPassword("Op", "Secret"));
    EXPECT_EQ(raw(kSetting, "Class Name"), "DialscopeMainWindow\0"s);
    EXPECT_EQ(raw(kKey, "User"), "Op\0"s);
    EXPECT_EQ(raw(kKey, "PassWord"), "Secret\0"s);
    EXPECT_EQ(m_store.className(), "DialscopeMainWindow");
    EXPECT_EQ(m_store.GetAppPassword(), "Secret");

    EXPECT_TRUE(m_store.CheckAppPassword("Op", "Secret"));
    for (auto [user, password] : {std::pair{"op", "Secret"}, {"Op", "secret"}, {"Op", "Secret "}, {"Op", ""}})
        EXPECT_FALSE(m_store.CheckAppPassword(user, password)) << user << "/" << password;
    ASSERT_TRUE(m_store.SaveAppPassword("Op", ""));
    EXPECT_TRUE(m_store.CheckAppPassword("Op", ""));

    // Written elsewhere without the zero, and bytes outside ASCII: unchanged.
    put(kKey, "User", RegValue::fromString("\xe9t\xe9"));
    EXPECT_EQ(m_store.GetAppUser(), "\xe9t\xe9");
}

TEST_F(AppStoreTest, CallSettingsDefaultsLayoutAndQualityClamp) {
    CallSettings fresh = m_store.callSettings();
    EXPECT_EQ(fresh.user + fresh.password + fresh.dial, "");
    EXPECT_EQ(fresh.formatSize, 1);
    EXPECT_EQ(fresh.quality, 30);
    EXPECT_EQ(fresh.save, 0);

    ASSERT_TRUE(m_store.saveCallSettings({"guard", "pw", "5551234", 0, 75, 1}));
    EXPECT_EQ(raw(kCall, "User") + raw(kCall, "PassWord") + raw(kCall, "Dial"), "guard\0pw\0"
                                                                                "5551234\0"s);
    EXPECT_EQ(raw(kCall, "FormatSize") + raw(kCall, "Quality") + raw(kCall, "Save"),
              "\0\0\0\0\x4b\0\0\0\x01\0\0\0"s);
    CallSettings read = m_store.callSettings();
    EXPECT_EQ(read.user + "|" + read.password + "|" + read.dial, "guard|pw|5551234");
    EXPECT_EQ(std::tuple(read.formatSize, read.quality, read.save), std::tuple(0, 75, 1));

    for (auto [stored, reads] : {std::pair{150, 30}, {-1, 30}, {100, 100}, {0, 0}}) {
        put(kCall, "Quality", RegValue::fromDword(uint32_t(stored)));
        EXPECT_EQ(m_store.callSettings().quality, reads) << stored;
    }
}

TEST_F(AppStoreTest, RecordPathFallsBackToTheCurrentDirectoryWithATrailingSlash) {
    TempDir cwd("dialscope-cwd");
    std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(cwd.path());
    const std::string here = std::filesystem::current_path().string() + "/";

    EXPECT_EQ(m_store.GetRecordPath(), here);
    std::string clips = m_dir.path() + "/clips";
    std::filesystem::create_directory(clips);
    ASSERT_TRUE(m_store.SetRecordPath(clips));
    EXPECT_EQ(m_store.GetRecordPath(), clips + "/");
    ASSERT_TRUE(m_store.SetRecordPath(clips + "/"));
    EXPECT_EQ(m_store.GetRecordPath(), clips + "/");
    EXPECT_EQ(std::filesystem::current_path().string() + "/", here);

    std::filesystem::remove(clips); // deleted: the current folder; the value stays
    EXPECT_EQ(m_store.GetRecordPath(), here);
    EXPECT_EQ(raw(kKey, "RECPath"), clips + "/\0"s);
    std::ofstream(m_dir.file("plain")) << "x"; // a file is no folder
    ASSERT_TRUE(m_store.SetRecordPath(m_dir.file("plain")));
    EXPECT_EQ(m_store.GetRecordPath(), here);
    std::filesystem::current_path(saved);
}

TEST_F(AppStoreTest, RecordDriveAndFreeSpaceDescribeTheFoldersVolume) {
    ASSERT_TRUE(m_store.SetRecordPath(m_dir.path()));
    std::string mount = m_store.GetRecordDrive();
    ASSERT_FALSE(mount.empty());
    EXPECT_EQ(std::filesystem::canonical(m_dir.path()).string().rfind(mount, 0), 0u) << mount;
    struct statvfs info {};
    ASSERT_EQ(statvfs(m_dir.path().c_str(), &info), 0);
    // Other processes write meanwhile: allow a little drift.
    EXPECT_NEAR(m_store.GetRecordFreeMB(), double((uint64_t(info.f_bavail) * info.f_frsize) >> 20), 64.0);
}

// Another connection to the file (as another process holds it) keeps a
// write transaction open: settings still read at once, without the 10 s
// wait for the lock.
TEST_F(AppStoreTest, SettingsReadAtOnceWhileAnotherWriterHoldsTheStore) {
    ASSERT_TRUE(m_store.SetSetting(AppStore::kCheckTimer, 25));
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(m_dir.file("user.sqlite").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(m_store.GetSetting(AppStore::kCheckTimer), 25);
    EXPECT_EQ(m_store.GetSetting(AppStore::kModem), -1) << "a missing value in an existing key";
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took, std::chrono::milliseconds(50));
    RecordProperty("GetSettingMicroseconds",
                   int(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

TEST_F(AppStoreTest, RecordPathRefusesAFolderTheClipIndexCannotGiveBack) {
    const std::string fits = "/" + std::string(257, 'f');    // 259 bytes with the closing slash
    const std::string tooLong = "/" + std::string(258, 'f'); // 260 bytes with it
    EXPECT_FALSE(m_store.SetRecordPath(tooLong));
    EXPECT_FALSE(m_store.SetRecordPath(tooLong + "/"));
    EXPECT_EQ(raw(kKey, "RECPath"), "<missing>");
    EXPECT_TRUE(m_store.SetRecordPath(fits));
}

TEST_F(AppStoreTest, AnUnusableStoreGivesDefaultsAndRefusesWrites) {
    RegistryStore broken(m_dir.path()); // a folder is no store file
    AppStore store(broken, broken);
    EXPECT_EQ(store.checkTimer(), 10u);
    EXPECT_FALSE(store.SetSetting(AppStore::kCheckTimer, 20));
    EXPECT_TRUE(store.CheckAppPassword("", ""));
    EXPECT_FALSE(store.SaveAppPassword("a", "b"));
    EXPECT_EQ(store.callSettings().quality, 30);
    EXPECT_EQ(store.GetRecordPath(), std::filesystem::current_path().string() + "/");
    EXPECT_FALSE(store.SavePhoneEntry({"a", "b", "c", "d"}));
    EXPECT_FALSE(store.AddEventRecord(EventRecord::makeBlock("n", "t", "a", "m")));
    std::vector<PhoneEntry> phones;
    store.LoadPhoneBook(phones);
    EXPECT_TRUE(phones.empty());
}

TEST_F(AppStoreTest, PhoneEntriesStoredWithoutZeroOverwrittenByNameAndDeleted) {
    std::string depot = kPhones + "\\Depot"s;
    ASSERT_TRUE(m_store.SavePhoneEntry({"Depot", "pw1", "5550001", "north gate"}));
    EXPECT_EQ(raw(depot, "Memo"), "north gate"); // exactly its 10 bytes
    ASSERT_TRUE(m_store.SavePhoneEntry({"Depot", "pw2", "12", ""}));
    ASSERT_TRUE(m_store.SavePhoneEntry({"Annex", "x", "9", "m"}));
    EXPECT_EQ(raw(depot, "Dial"), "12");

    std::vector<PhoneEntry> list{{"kept", "", "", ""}};
    m_store.LoadPhoneBook(list); // appends
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Name + list[1].Name + list[2].Name, "keptAnnexDepot");
    EXPECT_EQ(list[2].PassWord + "|" + list[2].Dial + "|" + list[2].Memo, "pw2|12|");

    EXPECT_FALSE(m_store.DeletePhoneEntry("Nobody"));
    EXPECT_TRUE(m_store.DeletePhoneEntry("Depot"));
    EXPECT_FALSE(m_store.DeletePhoneEntry("Depot"));
    EXPECT_EQ(m_user.openKey(kPhones).subkeyCount(), 1u);
}

TEST_F(AppStoreTest, PhoneNamesThatCannotBeKeysAreRefusedAndLoadsCutValues) {
    for (std::string bad : {""s, "site\\nested"s, std::string(260, 'n'), "zero\0byte"s})
        EXPECT_FALSE(m_store.SavePhoneEntry({bad, "p", "d", "m"})) << bad;
    EXPECT_FALSE(m_user.openKey(kPhones));
    ASSERT_TRUE(m_store.SavePhoneEntry({std::string(259, 'n'), "p", "d", "m"}));

    // Written by other means: oversized, unterminated, of the wrong type.
    std::string other = kPhones + "\\Other"s;
    put(other, "Name", RegValue::fromString("Value name"));
    put(other, "Memo", RegValue::fromString(std::string(400, 'm')));
    put(other, "Dial", RegValue::fromString("123\0junk"s));
    put(other, "PassWord", RegValue::fromDword(7));
    put(kPhones + "\\"s + std::string(300, 'k'), "Name", RegValue::fromString("never enumerated"));

    std::vector<PhoneEntry> list;
    m_store.LoadPhoneBook(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].Name.size(), 259u);
    EXPECT_EQ(list[1].Name, "Value name"); // the value, not the key name
    EXPECT_EQ(list[1].Memo, std::string(259, 'm'));
    EXPECT_EQ(list[1].Dial, "123");
    EXPECT_EQ(list[1].PassWord, "");
}

class EventRecordTest : public AppStoreTest {
protected:
    void SetUp() override {
        m_store.setClock([this] { return m_time; });
    }
    std::string id() {
        char text[32];
        std::tm local{};
        std::strftime(text, sizeof text, "%Y%m%d%H%M%S", localtime_r(&m_time, &local));
        return text;
    }
    std::vector<EventRecord> load() {
        std::vector<EventRecord> list;
        m_store.LoadEventRecords(list);
        return list;
    }
    std::time_t m_time = 1709647629;
};

TEST_F(EventRecordTest, FieldsAreStoredWholeAndOneRecordPerSecondRemains) {
    EventBlock block = EventRecord::makeBlock("Depot", "5550001", "1 Harbour Road", "gate alarm");
    block[20] = 'X'; // bytes after a field's zero are stored too
    ASSERT_TRUE(m_store.AddEventRecord(block));
    std::string key = kEvents + "\\"s + id();
    ASSERT_EQ(id().size(), 14u);
    EXPECT_EQ(raw(key, "ID"), id());
    EXPECT_EQ(raw(key, "Name"), std::string(block.data(), 30));
    EXPECT_EQ(raw(key, "Tel").size(), 30u);
    EXPECT_EQ(raw(key, "Address"), std::string(block.data() + 60, 120));
    EXPECT_EQ(raw(key, "Memo").size(), 120u);
    std::vector<EventRecord> list = load();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].ID, id());
    EXPECT_EQ(list[0].text(EventRecord::kName) + "|" + list[0].text(EventRecord::kTel) + "|" +
                  list[0].text(EventRecord::kAddress) + "|" + list[0].text(EventRecord::kMemo),
              "Depot|5550001|1 Harbour Road|gate alarm");

    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("Second", "2", "", ""))); // same second
    m_time += 1;
    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("Third", "3", "", "")));
    list = load();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].text(EventRecord::kName) + list[0].text(EventRecord::kAddress), "Second");
    EXPECT_EQ(list[1].ID, id());

    EXPECT_FALSE(m_store.DeleteEventRecord("20000101000000"));
    EXPECT_TRUE(m_store.DeleteEventRecord(id()));
    EXPECT_EQ(load().size(), 1u);
}

TEST_F(EventRecordTest, FullOrOversizedFieldsReadBackCutToFit) {
    EventBlock full; // a site that fills every field sends no terminating zero
    full.fill('N');
    ASSERT_TRUE(m_store.AddEventRecord(full));
    std::string other = kEvents + "\\19990101000000"s; // the key name is the ID
    put(other, "ID", RegValue::fromString("bogus"));
    put(other, "Name", RegValue::fromString(std::string(500, 'a')));

    std::vector<EventRecord> list = load();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ID, "19990101000000");
    EXPECT_EQ(list[0].text(EventRecord::kName), std::string(29, 'a'));
    EXPECT_EQ(list[0].text(EventRecord::kTel), "");
    for (auto field : {EventRecord::kName, EventRecord::kTel, EventRecord::kAddress, EventRecord::kMemo}) {
        EXPECT_EQ(list[1].text(field), std::string(field.size - 1, 'N'));
        EXPECT_EQ(list[1].block[field.offset + field.size - 1], '\0');
    }
}

} // namespace
