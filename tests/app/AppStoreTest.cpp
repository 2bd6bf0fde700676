#include "AppStore.h"
#include "RegistryStore.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/statvfs.h>

namespace {

using namespace std::string_literals;

constexpr const char* kSettingKey = "software\\Kestrel-Lookout\\Dialscope\\Setting";
constexpr const char* kKeyKey = "software\\Kestrel-Lookout\\Dialscope\\Key";
constexpr const char* kCallKey = "software\\Kestrel-Lookout\\Dialscope\\Call";

class AppStoreTest : public ::testing::Test {
protected:
    std::optional<RegValue> raw(const char* key, const char* name) {
        return m_user.openKey(key).queryValue(name);
    }
    void putRaw(const std::string& key, const char* name, const RegValue& value) {
        ASSERT_TRUE(m_user.createKey(key).setValue(name, value));
    }

    TempDir m_dir;
    RegistryStore m_user{m_dir.file("user.sqlite")};
    RegistryStore m_machine{m_dir.file("machine.sqlite")};
    AppStore m_store{m_user, m_machine};
};

// Changes the process's current directory for one test and puts it back.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir)
        : m_saved(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() { std::filesystem::current_path(m_saved); }

private:
    std::filesystem::path m_saved;
};

TEST_F(AppStoreTest, SettingsReadTheirDefaultsWhenMissingOrOutOfRange) {
    for (int id : {1, 10, 11, 30, 31, 50})
        EXPECT_EQ(m_store.GetSetting(id), -1) << id;
    EXPECT_TRUE(m_store.GetVideoArrange());
    EXPECT_EQ(m_store.GetLimitDiskSpace(), 50u);
    EXPECT_EQ(m_store.GetCheckTimer(), 10u);
    EXPECT_EQ(m_store.GetModem(), -1);
    EXPECT_FALSE(m_store.GetAutoRun());

    struct Case {
        int id;
        int32_t stored;
        int64_t reads;
    };
    const Case cases[] = {
        {AppStore::kLimitDiskSpace, 0, 50},
        {AppStore::kLimitDiskSpace, 1, 1},
        {AppStore::kLimitDiskSpace, 9999, 9999},
        {AppStore::kLimitDiskSpace, 10000, 50},
        {AppStore::kLimitDiskSpace, -5, 50},
        {AppStore::kCheckTimer, 300, 300},
        {AppStore::kCheckTimer, 301, 10},
        {AppStore::kCheckTimer, 0, 10},
        {AppStore::kVideoArrange, 0, 0},
        {AppStore::kVideoArrange, 7, 1},
        {AppStore::kAutoRun, 1, 1},
        {AppStore::kAutoRun, 2, 0},
        {AppStore::kModem, 3, 3},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_store.SetSetting(c.id, c.stored));
        int64_t got = 0;
        switch (c.id) {
        case AppStore::kLimitDiskSpace:
            got = m_store.GetLimitDiskSpace();
            break;
        case AppStore::kCheckTimer:
            got = m_store.GetCheckTimer();
            break;
        case AppStore::kVideoArrange:
            got = m_store.GetVideoArrange();
            break;
        case AppStore::kAutoRun:
            got = m_store.GetAutoRun();
            break;
        default:
            got = m_store.GetModem();
        }
        EXPECT_EQ(got, c.reads) << "setting " << c.id << " stored as " << c.stored;
    }
}

TEST_F(AppStoreTest, SettingsAreDwordsUnderTheirNames) {
    ASSERT_TRUE(m_store.SetSetting(AppStore::kLimitDiskSpace, 0x01020304));
    ASSERT_TRUE(m_store.SetSetting(AppStore::kMonitor, -1));
    auto limit = raw(kSettingKey, "LimitDiskSpace");
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->type, RegType::Dword);
    EXPECT_EQ(limit->data, "\x04\x03\x02\x01"s);
    EXPECT_EQ(raw(kSettingKey, "Monitor")->data, "\xff\xff\xff\xff"s);
    EXPECT_EQ(m_store.GetSetting(AppStore::kMonitor), -1);

    // Unknown identifiers have no value name.
    EXPECT_FALSE(m_store.SetSetting(2, 5));
    EXPECT_EQ(m_store.GetSetting(2), -1);

    // Names match regardless of letter case, as the registry's do.
    putRaw("SOFTWARE\\kestrel-lookout\\DIALSCOPE\\setting", "checktimer", RegValue::fromDword(42));
    EXPECT_EQ(m_store.GetSetting(AppStore::kCheckTimer), 42);
    // A value of another type is not a setting.
    putRaw(kSettingKey, "Modem", RegValue::fromString("\x01\x00\x00\x00"s));
    EXPECT_EQ(m_store.GetSetting(AppStore::kModem), -1);
}

TEST_F(AppStoreTest, ReadingAProfileValueLeavesTheEmptyKeyChainBehind) {
    EXPECT_FALSE(m_user.openKey("software"));
    EXPECT_EQ(m_store.GetSetting(AppStore::kModem), -1);
    EXPECT_EQ(m_store.GetAppUser(), "");
    RegistryKey setting = m_user.openKey(kSettingKey);
    ASSERT_TRUE(setting);
    EXPECT_TRUE(setting.values().empty());
    EXPECT_TRUE(m_user.openKey(kKeyKey));
    EXPECT_EQ(m_user.openKey("software\\Kestrel-Lookout").subkeyCount(), 1u);
}

TEST_F(AppStoreTest, ProfileTextsKeepTheirTerminatingZero) {
    ASSERT_TRUE(m_store.SetClassName("DialscopeMainWindow"));
    ASSERT_TRUE(m_store.SaveAppPassword("Operator", "s3cret"));
    ASSERT_TRUE(m_store.SetRecordPath("/srv/clips"));

    auto cls = raw(kSettingKey, "Class Name");
    ASSERT_TRUE(cls);
    EXPECT_EQ(cls->type, RegType::String);
    EXPECT_EQ(cls->data, "DialscopeMainWindow\0"s);
    EXPECT_EQ(raw(kKeyKey, "User")->data, "Operator\0"s);
    EXPECT_EQ(raw(kKeyKey, "PassWord")->data, "s3cret\0"s);
    EXPECT_EQ(raw(kKeyKey, "RECPath")->data, "/srv/clips\0"s);

    EXPECT_EQ(m_store.GetClassName(), "DialscopeMainWindow");
    EXPECT_EQ(m_store.GetAppUser(), "Operator");
    EXPECT_EQ(m_store.GetAppPassword(), "s3cret");

    // Written by another tool without the zero: read as the same text.
    putRaw(kKeyKey, "User", RegValue::fromString("Other"));
    EXPECT_EQ(m_store.GetAppUser(), "Other");
    // Texts are bytes: no character set conversion either way.
    ASSERT_TRUE(m_store.SaveAppPassword("\xe9t\xe9", "\xc3\xa9"));
    EXPECT_EQ(raw(kKeyKey, "User")->data, "\xe9t\xe9\0"s);
    EXPECT_EQ(m_store.GetAppPassword(), "\xc3\xa9");
}

TEST_F(AppStoreTest, CheckAppPasswordComparesBothTextsExactly) {
    // Nothing stored: only the empty pair passes.
    EXPECT_TRUE(m_store.CheckAppPassword("", ""));
    EXPECT_FALSE(m_store.CheckAppPassword("a", ""));

    ASSERT_TRUE(m_store.SaveAppPassword("Op", "Secret"));
    EXPECT_TRUE(m_store.CheckAppPassword("Op", "Secret"));
    EXPECT_FALSE(m_store.CheckAppPassword("op", "Secret"));
    EXPECT_FALSE(m_store.CheckAppPassword("Op", "secret"));
    EXPECT_FALSE(m_store.CheckAppPassword("Op", "Secret "));
    EXPECT_FALSE(m_store.CheckAppPassword("Op", ""));

    // A user name with an empty password passes only with an empty password.
    ASSERT_TRUE(m_store.SaveAppPassword("Op", ""));
    EXPECT_TRUE(m_store.CheckAppPassword("Op", ""));
    EXPECT_FALSE(m_store.CheckAppPassword("Op", "Secret"));
}

TEST_F(AppStoreTest, CallSettingsDefaultsLayoutAndQualityClamp) {
    CallSettings fresh = m_store.GetCallSettings();
    EXPECT_EQ(fresh.user, "");
    EXPECT_EQ(fresh.password, "");
    EXPECT_EQ(fresh.dial, "");
    EXPECT_EQ(fresh.formatSize, 1);
    EXPECT_EQ(fresh.quality, 30);
    EXPECT_EQ(fresh.save, 0);

    CallSettings saved{"guard", "pw", "5551234", 0, 75, 1};
    ASSERT_TRUE(m_store.SaveCallSettings(saved));
    EXPECT_EQ(raw(kCallKey, "User")->data, "guard\0"s);
    EXPECT_EQ(raw(kCallKey, "PassWord")->data, "pw\0"s);
    EXPECT_EQ(raw(kCallKey, "Dial")->data, "5551234\0"s);
    EXPECT_EQ(raw(kCallKey, "FormatSize")->type, RegType::Dword);
    EXPECT_EQ(raw(kCallKey, "Quality")->dword(), 75u);
    EXPECT_EQ(raw(kCallKey, "Save")->dword(), 1u);
    CallSettings read = m_store.GetCallSettings();
    EXPECT_EQ(read.user, "guard");
    EXPECT_EQ(read.password, "pw");
    EXPECT_EQ(read.dial, "5551234");
    EXPECT_EQ(read.formatSize, 0);
    EXPECT_EQ(read.quality, 75);
    EXPECT_EQ(read.save, 1);

    for (auto [stored, reads] : {std::pair{150, 30}, {-1, 30}, {101, 30}, {100, 100}, {0, 0}}) {
        putRaw(kCallKey, "Quality", RegValue::fromDword(uint32_t(stored)));
        EXPECT_EQ(m_store.GetCallSettings().quality, reads) << stored;
    }
}

TEST_F(AppStoreTest, RecordPathFallsBackToTheCurrentDirectoryWithATrailingSlash) {
    TempDir cwd("dialscope-cwd");
    ScopedCwd inside(cwd.path());
    const std::string here = std::filesystem::current_path().string();

    EXPECT_EQ(m_store.GetRecordPath(), here + "/");

    std::string clips = m_dir.path() + "/clips";
    std::filesystem::create_directory(clips);
    ASSERT_TRUE(m_store.SetRecordPath(clips));
    EXPECT_EQ(m_store.GetRecordPath(), clips + "/");
    ASSERT_TRUE(m_store.SetRecordPath(clips + "/"));
    EXPECT_EQ(m_store.GetRecordPath(), clips + "/");
    EXPECT_EQ(std::filesystem::current_path().string(), here);

    // A deleted folder: the current directory, and the stored value stays.
    std::filesystem::remove(clips);
    EXPECT_EQ(m_store.GetRecordPath(), here + "/");
    EXPECT_EQ(raw(kKeyKey, "RECPath")->data, clips + "/" + "\0"s);

    // A file is no folder.
    std::string file = m_dir.file("plain.txt");
    { std::ofstream(file) << "x"; }
    ASSERT_TRUE(m_store.SetRecordPath(file));
    EXPECT_EQ(m_store.GetRecordPath(), here + "/");
    ASSERT_TRUE(m_store.SetRecordPath(""));
    EXPECT_EQ(m_store.GetRecordPath(), here + "/");
}

TEST_F(AppStoreTest, RecordDriveAndFreeSpaceDescribeTheFoldersVolume) {
    ASSERT_TRUE(m_store.SetRecordPath(m_dir.path()));
    std::string mount = m_store.GetRecordDrive();
    ASSERT_FALSE(mount.empty());
    std::string real = std::filesystem::canonical(m_dir.path()).string();
    EXPECT_EQ(real.rfind(mount, 0), 0u) << mount << " does not hold " << real;

    struct statvfs info {};
    ASSERT_EQ(statvfs(m_dir.path().c_str(), &info), 0);
    uint64_t expected = (uint64_t(info.f_bavail) * info.f_frsize) >> 20;
    uint32_t free = m_store.GetRecordFreeMB();
    // Other processes write meanwhile: allow a little drift.
    EXPECT_NEAR(double(free), double(uint32_t(expected)), 64.0);
}

TEST_F(AppStoreTest, AnUnusableStoreGivesDefaultsAndRefusesWrites) {
    TempDir other;
    RegistryStore broken(other.path()); // a folder is no store file
    ASSERT_FALSE(broken.usable());
    AppStore store(broken, broken);

    EXPECT_EQ(store.GetSetting(AppStore::kCheckTimer), -1);
    EXPECT_EQ(store.GetCheckTimer(), 10u);
    EXPECT_FALSE(store.SetSetting(AppStore::kCheckTimer, 20));
    EXPECT_EQ(store.GetAppUser(), "");
    EXPECT_TRUE(store.CheckAppPassword("", ""));
    EXPECT_FALSE(store.SaveAppPassword("a", "b"));
    EXPECT_EQ(store.GetCallSettings().quality, 30);
    EXPECT_FALSE(store.SaveCallSettings({}));
    EXPECT_EQ(store.GetRecordPath(), std::filesystem::current_path().string() + "/");
    EXPECT_FALSE(store.SavePhoneEntry({"a", "b", "c", "d"}));
    EXPECT_FALSE(store.AddEventRecord(EventRecord::makeBlock("n", "t", "a", "m")));
    std::vector<PhoneEntry> phones;
    store.LoadPhoneBook(phones);
    std::vector<EventRecord> events;
    store.LoadEventRecords(events);
    EXPECT_TRUE(phones.empty());
    EXPECT_TRUE(events.empty());
}

// ---- phone book

TEST_F(AppStoreTest, PhoneEntriesAreStoredWithoutZeroAndOverwrittenByName) {
    const char* key = "software\\Kestrel-Lookout\\RemotePhone\\Depot";
    ASSERT_TRUE(m_store.SavePhoneEntry({"Depot", "pw1", "5550001", "north gate"}));
    auto memo = raw(key, "Memo");
    ASSERT_TRUE(memo);
    EXPECT_EQ(memo->type, RegType::String);
    EXPECT_EQ(memo->data, "north gate"); // exactly 10 bytes
    EXPECT_EQ(raw(key, "Name")->data, "Depot");

    ASSERT_TRUE(m_store.SavePhoneEntry({"Depot", "pw2", "12", ""}));
    ASSERT_TRUE(m_store.SavePhoneEntry({"Annex", "x", "9", "m"}));
    EXPECT_EQ(m_user.openKey("software\\Kestrel-Lookout\\RemotePhone").subkeyCount(), 2u);

    std::vector<PhoneEntry> list{{"kept", "", "", ""}};
    m_store.LoadPhoneBook(list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Name, "kept"); // loads append
    EXPECT_EQ(list[1].Name, "Annex");
    EXPECT_EQ(list[2].Name, "Depot");
    EXPECT_EQ(list[2].PassWord, "pw2");
    EXPECT_EQ(list[2].Dial, "12"); // shorter than the earlier "5550001"
    EXPECT_EQ(list[2].Memo, "");
    EXPECT_EQ(raw(key, "Dial")->data, "12");
}

TEST_F(AppStoreTest, PhoneEntryNamesThatCannotBeKeysAreRefused) {
    EXPECT_FALSE(m_store.SavePhoneEntry({"", "p", "d", "m"}));
    EXPECT_FALSE(m_store.SavePhoneEntry({"site\\nested", "p", "d", "m"}));
    EXPECT_FALSE(m_store.SavePhoneEntry({std::string(260, 'n'), "p", "d", "m"}));
    EXPECT_FALSE(m_store.SavePhoneEntry({"zero\0byte"s, "p", "d", "m"}));
    EXPECT_FALSE(m_user.openKey("software\\Kestrel-Lookout\\RemotePhone"));

    ASSERT_TRUE(m_store.SavePhoneEntry({std::string(259, 'n'), "p", "d", "m"}));
    std::vector<PhoneEntry> list;
    m_store.LoadPhoneBook(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name.size(), 259u);
}

TEST_F(AppStoreTest, PhoneBookLoadCutsOversizedValuesAndTakesTheNameValue) {
    std::string key = "software\\Kestrel-Lookout\\RemotePhone\\Key name";
    putRaw(key, "Name", RegValue::fromString("Value name"));
    putRaw(key, "Memo", RegValue::fromString(std::string(400, 'm')));
    putRaw(key, "Dial", RegValue::fromString("123\0junk"s));
    putRaw(key, "PassWord", RegValue::fromDword(7));
    // A key name too long for the name buffer cannot be enumerated.
    putRaw("software\\Kestrel-Lookout\\RemotePhone\\" + std::string(300, 'k'), "Name",
           RegValue::fromString("skipped"));

    std::vector<PhoneEntry> list;
    m_store.LoadPhoneBook(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name, "Value name");
    EXPECT_EQ(list[0].Memo, std::string(259, 'm'));
    EXPECT_EQ(list[0].Dial, "123");
    EXPECT_EQ(list[0].PassWord, "");
}

TEST_F(AppStoreTest, DeletingPhoneEntries) {
    EXPECT_FALSE(m_store.DeletePhoneEntry("Nobody"));
    ASSERT_TRUE(m_store.SavePhoneEntry({"Depot", "", "1", ""}));
    ASSERT_TRUE(m_store.SavePhoneEntry({"Annex", "", "2", ""}));
    EXPECT_FALSE(m_store.DeletePhoneEntry("Depot\\"));
    EXPECT_TRUE(m_store.DeletePhoneEntry("Depot"));
    EXPECT_FALSE(m_store.DeletePhoneEntry("Depot"));
    std::vector<PhoneEntry> list;
    m_store.LoadPhoneBook(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Name, "Annex");
}

// ---- event records

class EventRecordTest : public AppStoreTest {
protected:
    void SetUp() override {
        m_store.setClock([this] { return m_time; });
    }
    std::string idOf(std::time_t t) {
        std::tm local{};
        localtime_r(&t, &local);
        char text[32];
        std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
        return text;
    }
    std::time_t m_time = 1709647629;
};

TEST_F(EventRecordTest, FieldsAreStoredWholeAndTheIdWithoutZero) {
    EventBlock block = EventRecord::makeBlock("Depot", "5550001", "1 Harbour Road", "gate alarm");
    block[EventRecord::kName.offset + 20] = 'X'; // bytes after the zero are kept too
    ASSERT_TRUE(m_store.AddEventRecord(block));

    std::string id = idOf(m_time);
    ASSERT_EQ(id.size(), 14u);
    std::string key = "software\\Kestrel-Lookout\\RemotePerson\\" + id;
    EXPECT_EQ(raw(key.c_str(), "ID")->data, id);
    auto name = raw(key.c_str(), "Name");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->type, RegType::String);
    EXPECT_EQ(name->data, std::string(block.data(), 30));
    EXPECT_EQ(raw(key.c_str(), "Tel")->data.size(), 30u);
    EXPECT_EQ(raw(key.c_str(), "Address")->data, std::string(block.data() + 60, 120));
    EXPECT_EQ(raw(key.c_str(), "Memo")->data.size(), 120u);

    std::vector<EventRecord> list;
    m_store.LoadEventRecords(list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].ID, id);
    EXPECT_EQ(list[0].text(EventRecord::kName), "Depot");
    EXPECT_EQ(list[0].text(EventRecord::kTel), "5550001");
    EXPECT_EQ(list[0].text(EventRecord::kAddress), "1 Harbour Road");
    EXPECT_EQ(list[0].text(EventRecord::kMemo), "gate alarm");
}

TEST_F(EventRecordTest, TwoRecordsInOneSecondLeaveTheSecond) {
    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("First site", "111", "long address", "x")));
    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("Second", "2", "", "")));
    m_time += 1;
    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("Third", "3", "", "")));

    std::vector<EventRecord> list;
    m_store.LoadEventRecords(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].text(EventRecord::kName), "Second");
    EXPECT_EQ(list[0].text(EventRecord::kAddress), "");
    EXPECT_EQ(list[1].text(EventRecord::kName), "Third");
    EXPECT_EQ(list[1].ID, idOf(m_time));
}

TEST_F(EventRecordTest, FullOrOversizedFieldsReadBackCutToFit) {
    // A site that fills every field to its width sends no terminating zeros.
    EventBlock full;
    full.fill('N');
    ASSERT_TRUE(m_store.AddEventRecord(full));
    // Written by other means: far longer than any field, and the key name is
    // the record's ID whatever the "ID" value says.
    std::string key = "software\\Kestrel-Lookout\\RemotePerson\\19990101000000";
    putRaw(key, "ID", RegValue::fromString("bogus"));
    putRaw(key, "Name", RegValue::fromString(std::string(500, 'a')));
    putRaw(key, "Memo", RegValue::fromString(std::string(119, 'b')));

    std::vector<EventRecord> list;
    m_store.LoadEventRecords(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ID, "19990101000000");
    EXPECT_EQ(list[0].text(EventRecord::kName), std::string(29, 'a'));
    EXPECT_EQ(list[0].text(EventRecord::kTel), "");
    EXPECT_EQ(list[0].text(EventRecord::kMemo), std::string(119, 'b'));
    EXPECT_EQ(list[1].text(EventRecord::kName), std::string(29, 'N'));
    EXPECT_EQ(list[1].text(EventRecord::kTel), std::string(29, 'N'));
    EXPECT_EQ(list[1].text(EventRecord::kAddress), std::string(119, 'N'));
    EXPECT_EQ(list[1].text(EventRecord::kMemo), std::string(119, 'N'));
    // Every field keeps its terminating zero inside its own place.
    for (auto field : {EventRecord::kName, EventRecord::kTel, EventRecord::kAddress, EventRecord::kMemo})
        EXPECT_EQ(list[1].block[field.offset + field.size - 1], '\0');
}

TEST_F(EventRecordTest, DeletingRecords) {
    ASSERT_TRUE(m_store.AddEventRecord(EventRecord::makeBlock("a", "", "", "")));
    std::string id = idOf(m_time);
    EXPECT_FALSE(m_store.DeleteEventRecord("20000101000000"));
    EXPECT_FALSE(m_store.DeleteEventRecord(""));
    EXPECT_TRUE(m_store.DeleteEventRecord(id));
    EXPECT_FALSE(m_store.DeleteEventRecord(id));
    std::vector<EventRecord> list;
    m_store.LoadEventRecords(list);
    EXPECT_TRUE(list.empty());
}

} // namespace
