// Key and value semantics of the settings store: paths, case rules,
// enumeration (also while the file changes under it), value bytes, batches,
// and the permissions of the files it creates.
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

class RegistryStoreTest : public ::testing::Test {
protected:
    TempDir m_dir{"registry-store"};
    std::string m_file = m_dir.file("user.sqlite");
    RegistryStore m_store{m_file};
};

std::vector<std::string> enumerate(const RegistryKey& key) {
    std::vector<std::string> names;
    for (uint32_t i = 0; auto name = key.subkeyName(i); ++i)
        names.push_back(*name);
    return names;
}

TEST_F(RegistryStoreTest, CreateMakesParentsAndOpenNeedsAnExistingKey) {
    ASSERT_TRUE(m_store.usable());
    ASSERT_TRUE(m_store.writable());
    EXPECT_FALSE(m_store.openKey("software\\Kestrel-Lookout"));

    RegistryKey setting = m_store.createKey("Software\\Kestrel-Lookout\\Dialscope\\Setting");
    ASSERT_TRUE(setting);
    EXPECT_EQ(setting.name(), "Setting");
    EXPECT_TRUE(m_store.openKey("software\\Kestrel-Lookout"));
    EXPECT_TRUE(m_store.openKey("SOFTWARE\\kestrel-lookout\\DIALSCOPE\\setting"));
    EXPECT_FALSE(m_store.openKey("software\\Kestrel-Lookout\\Kestrel"));

    // Opening or creating under another spelling finds the same key and keeps
    // the spelling it was created with.
    RegistryKey again = m_store.createKey("SOFTWARE\\KESTREL-LOOKOUT");
    ASSERT_TRUE(again);
    EXPECT_EQ(again.name(), "Kestrel-Lookout");
    EXPECT_EQ(m_store.openKey("software").subkeyCount(), 1u);
    EXPECT_EQ(enumerate(m_store.openKey("")), std::vector<std::string>{"Software"});

    // Relative paths from an open key.
    RegistryKey family = m_store.openKey("software\\kestrel-lookout");
    EXPECT_TRUE(family.openSubkey("dialscope\\SETTING"));
    EXPECT_TRUE(family.createSubkey("RemotePhone\\alice"));
    EXPECT_TRUE(m_store.openKey("Software\\Kestrel-Lookout\\RemotePhone\\Alice"));
}

TEST_F(RegistryStoreTest, MalformedPathsAreRefused) {
    for (const char* path : {"\\a", "a\\", "a\\\\b", "\\"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(m_store.createKey(path));
        EXPECT_FALSE(m_store.openKey(path));
        EXPECT_FALSE(m_store.deleteKey(path));
    }
    EXPECT_EQ(m_store.openKey("").subkeyCount(), 0u);
    // The root opens as "" but can never be deleted.
    EXPECT_TRUE(m_store.openKey(""));
    EXPECT_FALSE(m_store.deleteKey(""));
}

TEST_F(RegistryStoreTest, DeleteRemovesOnlyALeafKeyWithItsValues) {
    ASSERT_TRUE(m_store.createKey("a\\b\\c").setDword("x", 1));
    ASSERT_TRUE(m_store.openKey("a\\b").setDword("y", 2));

    EXPECT_FALSE(m_store.deleteKey("a\\b")) << "has a subkey";
    EXPECT_EQ(m_store.openKey("a\\b").queryValue("y")->dword(), 2u);
    EXPECT_FALSE(m_store.deleteKey("a\\missing"));
    EXPECT_FALSE(m_store.deleteKey("missing\\x"));

    EXPECT_TRUE(m_store.deleteKey("A\\B\\C"));
    EXPECT_FALSE(m_store.openKey("a\\b\\c"));
    EXPECT_FALSE(m_store.deleteKey("a\\b\\c")) << "already gone";
    EXPECT_TRUE(m_store.deleteKey("a\\b"));
    EXPECT_EQ(m_store.openKey("a").subkeyCount(), 0u);

    // A key created again under the old name starts without values.
    RegistryKey b = m_store.createKey("a\\b");
    EXPECT_FALSE(b.queryValue("y"));
    EXPECT_TRUE(b.values().empty());

    // Relative delete through a key handle.
    RegistryKey a = m_store.openKey("a");
    EXPECT_TRUE(a.deleteSubkey("B"));
    EXPECT_FALSE(a.deleteSubkey(""));
}

TEST_F(RegistryStoreTest, HandleOfADeletedKeyNeverReachesALaterKey) {
    RegistryKey doomed = m_store.createKey("store\\doomed");
    ASSERT_TRUE(doomed);
    ASSERT_TRUE(m_store.deleteKey("store\\doomed"));
    // A key made after the delete must not inherit the old handle.
    RegistryKey fresh = m_store.createKey("store\\fresh");
    ASSERT_TRUE(fresh);

    EXPECT_FALSE(doomed.setDword("stray", 1));
    EXPECT_FALSE(doomed.queryValue("stray"));
    EXPECT_FALSE(doomed.subkeyCount());
    EXPECT_FALSE(doomed.createSubkey("child"));
    EXPECT_FALSE(doomed.name());
    EXPECT_FALSE(fresh.queryValue("stray"));
    EXPECT_EQ(fresh.subkeyCount(), 0u);

    // The same through a second store object, as another process would do it.
    RegistryKey victim = m_store.createKey("store\\victim");
    {
        RegistryStore other(m_file);
        ASSERT_TRUE(other.deleteKey("store\\victim"));
        ASSERT_TRUE(other.createKey("store\\later"));
    }
    EXPECT_FALSE(victim.setString("stray", "x"));
    EXPECT_TRUE(m_store.openKey("store\\later").values().empty());
}

TEST_F(RegistryStoreTest, EnumerationIsCaseInsensitiveAndKeepsSpelling) {
    RegistryKey parent = m_store.createKey("list");
    for (const char* name : {"delta", "Bravo", "alpha", "Charlie", "ALPHA2", "_x", "echo"})
        ASSERT_TRUE(parent.createSubkey(name));
    EXPECT_EQ(parent.subkeyCount(), 7u);
    // The order compares lower-cased names: "_" (0x5F) sorts between the
    // upper- and lower-case letters, so before every name here.
    EXPECT_EQ(enumerate(parent),
              (std::vector<std::string>{"_x", "alpha", "ALPHA2", "Bravo", "Charlie", "delta", "echo"}));
    EXPECT_FALSE(parent.subkeyName(7));
    EXPECT_FALSE(parent.subkeyName(UINT32_MAX));
    EXPECT_EQ(m_store.openKey("list\\bravo").subkeyCount(), 0u);
    EXPECT_FALSE(m_store.openKey("list\\bravo").subkeyName(0));

    // Bulk reading gives the same order with each key's values.
    ASSERT_TRUE(parent.openSubkey("charlie").setString("Name", "c"));
    auto bulk = parent.subkeysWithValues();
    ASSERT_EQ(bulk.size(), 7u);
    EXPECT_EQ(bulk[4].name, "Charlie");
    ASSERT_NE(bulk[4].find("NAME"), nullptr);
    EXPECT_EQ(bulk[4].find("name")->data, "c");
    EXPECT_TRUE(bulk[0].values.empty());
}

TEST_F(RegistryStoreTest, EnumerationFollowsChangesBetweenCalls) {
    RegistryKey parent = m_store.createKey("list");
    for (const char* name : {"b", "d", "f"})
        ASSERT_TRUE(parent.createSubkey(name));
    EXPECT_EQ(parent.subkeyName(0), "b");

    // Through the same store object.
    ASSERT_TRUE(m_store.createKey("list\\a"));
    EXPECT_EQ(parent.subkeyName(0), "a");
    EXPECT_EQ(parent.subkeyName(3), "f");
    ASSERT_TRUE(m_store.deleteKey("list\\d"));
    EXPECT_EQ(parent.subkeyName(2), "f");
    EXPECT_FALSE(parent.subkeyName(3));

    // Through another store object on the same file, as another process.
    RegistryStore other(m_file);
    ASSERT_TRUE(other.createKey("list\\c"));
    EXPECT_EQ(parent.subkeyName(2), "c");
    EXPECT_EQ(parent.subkeyName(3), "f");
    ASSERT_TRUE(other.deleteKey("list\\a"));
    EXPECT_EQ(parent.subkeyName(0), "b");
    EXPECT_EQ(enumerate(parent), (std::vector<std::string>{"b", "c", "f"}));

    // Inside a batch, and after the batch is rolled back.
    {
        WriteBatch batch(m_store);
        ASSERT_TRUE(parent.createSubkey("e"));
        EXPECT_EQ(enumerate(parent), (std::vector<std::string>{"b", "c", "e", "f"}));
    }
    EXPECT_EQ(enumerate(parent), (std::vector<std::string>{"b", "c", "f"}));
    EXPECT_FALSE(m_store.openKey("list\\e"));
}

TEST_F(RegistryStoreTest, StringValuesKeepTheirExactBytes) {
    RegistryKey key = m_store.createKey("values");
    const std::string cases[] = {
        "",                          // empty
        "RECPath",                   // without terminator
        "with zero\0"s,              // terminator included in the stored length
        "a\0b\0\0c"s,                // embedded zeros
        "\xff\xfe\x80 high bytes"s,  // not UTF-8
        std::string(30, 'N'),        // a full fixed field without terminator
        std::string(100000, '\x01'), // long
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        ASSERT_TRUE(key.setString("v" + std::to_string(i), cases[i]));
    for (size_t i = 0; i < std::size(cases); ++i) {
        auto value = key.queryValue("V" + std::to_string(i));
        ASSERT_TRUE(value) << i;
        EXPECT_EQ(value->type, RegType::String);
        EXPECT_EQ(value->data, cases[i]) << i;
    }
    // Another store object reads the same bytes back from the file.
    RegistryStore other(m_file);
    EXPECT_EQ(other.openKey("values").queryValue("v3")->data, "a\0b\0\0c"s);
    EXPECT_EQ(other.openKey("values").queryValue("v0")->data.size(), 0u);
}

TEST_F(RegistryStoreTest, DwordValuesAreFourLittleEndianBytes) {
    RegistryKey key = m_store.createKey("values");
    ASSERT_TRUE(key.setDword("Quality", 0x11223344));
    auto value = key.queryValue("quality");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, RegType::Dword);
    EXPECT_EQ(value->data, "\x44\x33\x22\x11"s);
    EXPECT_EQ(value->dword(), 0x11223344u);

    ASSERT_TRUE(key.setDword("Modem", uint32_t(-1)));
    EXPECT_EQ(key.queryValue("Modem")->dword(), 0xffffffffu);
    // Only a 4-byte value reads as a number.
    ASSERT_TRUE(key.setString("Text", "abc"));
    EXPECT_FALSE(key.queryValue("Text")->dword());
    ASSERT_TRUE(key.setValue("Raw", {RegType::Binary, "\x01\x00\x00\x00"s}));
    EXPECT_EQ(key.queryValue("Raw")->type, RegType::Binary);
    EXPECT_EQ(key.queryValue("Raw")->dword(), 1u);
}

TEST_F(RegistryStoreTest, ValueNamesAreCaseInsensitiveAndSetOverwrites) {
    RegistryKey key = m_store.createKey("values");
    ASSERT_TRUE(key.setDword("CheckTimer", 10));
    ASSERT_TRUE(key.setDword("CHECKTIMER", 30));
    ASSERT_EQ(key.values().size(), 1u);
    EXPECT_EQ(key.queryValue("checktimer")->dword(), 30u);

    // Overwriting may change the type.
    ASSERT_TRUE(key.setString("checkTimer", "30"));
    EXPECT_EQ(key.queryValue("CheckTimer")->type, RegType::String);
    EXPECT_EQ(key.queryValue("CheckTimer")->data, "30");
    EXPECT_EQ(key.values().size(), 1u);

    // Deleting a value.
    ASSERT_TRUE(key.setDword("Other", 1));
    EXPECT_TRUE(key.deleteValue("OTHER"));
    EXPECT_FALSE(key.queryValue("Other"));
    EXPECT_FALSE(key.deleteValue("Other")) << "already gone";
    EXPECT_FALSE(key.queryValue("Missing"));
    ASSERT_EQ(key.values().size(), 1u);
    EXPECT_EQ(key.values()[0].value.data, "30");

    // An empty value name is a value like any other.
    ASSERT_TRUE(key.setDword("", 7));
    EXPECT_EQ(key.queryValue("")->dword(), 7u);
    EXPECT_EQ(key.queryValue("CheckTimer")->data, "30");
}

TEST_F(RegistryStoreTest, BatchIsAllOrNothing) {
    {
        WriteBatch batch(m_store);
        ASSERT_TRUE(m_store.createKey("batch\\one").setDword("v", 1));
        ASSERT_TRUE(m_store.createKey("batch\\two").setDword("v", 2));
        // Not committed: everything is undone.
    }
    EXPECT_FALSE(m_store.openKey("batch"));

    {
        WriteBatch batch(m_store);
        ASSERT_TRUE(m_store.createKey("batch\\one").setDword("v", 1));
        {
            WriteBatch inner(m_store);
            ASSERT_TRUE(m_store.createKey("batch\\two").setDword("v", 2));
            EXPECT_TRUE(inner.commit());
        }
        // Another connection sees nothing until the outer batch commits.
        RegistryStore reader(m_file);
        EXPECT_FALSE(reader.openKey("batch\\one"));
        EXPECT_TRUE(batch.commit());
        EXPECT_FALSE(batch.commit()) << "a batch commits once";
        EXPECT_EQ(reader.openKey("batch\\two").queryValue("v")->dword(), 2u);
    }
    EXPECT_EQ(m_store.openKey("batch").subkeyCount(), 2u);
}

// Another connection (as another process would) holding a write
// transaction: readers do not wait for it, and a batch that cannot begin
// writes nothing at all instead of committing statement by statement.
TEST_F(RegistryStoreTest, AHeldWriteLockStallsNoReaderAndFailsABatchWhole) {
    ASSERT_TRUE(m_store.createKey("app\\Setting").setDword("CheckTimer", 30));
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(m_file.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto started = std::chrono::steady_clock::now();
    RegistryKey key = m_store.createKey("app\\Setting"); // already there: opened, not created
    ASSERT_TRUE(key);
    EXPECT_EQ(key.queryValue("CheckTimer")->dword(), 30u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));

    m_store.setBusyTimeout(20);
    {
        WriteBatch batch(m_store);
        // The holder lets go: statements inside the failed batch would now
        // succeed one by one if they were let through.
        ASSERT_EQ(sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
        EXPECT_FALSE(m_store.createKey("app\\Other"));
        EXPECT_FALSE(key.setDword("CheckTimer", 99));
        EXPECT_FALSE(batch.commit());
    }
    sqlite3_close(holder);
    EXPECT_FALSE(m_store.openKey("app\\Other"));
    EXPECT_EQ(m_store.openKey("app\\Setting").queryValue("CheckTimer")->dword(), 30u);
    EXPECT_TRUE(m_store.createKey("app\\Other")) << "writes work again after the batch";
}

TEST(RegistryFiles, CreatedOwnerOnlyInANewFolder) {
    TempDir dir("registry-files");
    std::string folder = dir.file("nested/dialscope");
    {
        RegistryStore store(folder + "/user.sqlite");
        ASSERT_TRUE(store.writable());
        ASSERT_TRUE(store.createKey("k").setString("PassWord", "secret"));

        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        // The store file and SQLite's side files beside it.
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u) << entry.path();
            ++files;
        }
        EXPECT_GE(files, 1);
    }
    // Reopening keeps what was written, and narrows modes that were widened
    // since (by hand, by a copy) back to owner-only.
    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((folder + "/user.sqlite").c_str(), 0644), 0);
    RegistryStore again(folder + "/user.sqlite");
    EXPECT_EQ(again.openKey("K").queryValue("password")->data, "secret");
    EXPECT_TRUE(again.checkIntegrity());
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat((folder + "/user.sqlite").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(RegistryFiles, LookingCreatesNothingAndNoPrivateFolderMeansNoStore) {
    TempDir dir("registry-paths");
    const std::string file = dir.file("dialscope/user.sqlite");
    {
        RegistryStore store(file, RegistryStore::OpenMode::ExistingOnly);
        EXPECT_FALSE(store.usable());
        EXPECT_FALSE(store.createKey("k"));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("dialscope")));
    EXPECT_FALSE(RegistryStore("").usable());

    // Only absolute folders count; without one there is no per-user store.
    const auto saved = [](const char* name) {
        const char* v = std::getenv(name);
        return v ? std::optional<std::string>(v) : std::nullopt;
    };
    const auto restore = [](const char* name, const std::optional<std::string>& v) {
        v ? setenv(name, v->c_str(), 1) : unsetenv(name);
    };
    const auto registryDir = saved("DIALSCOPE_REGISTRY_DIR"), home = saved("HOME"),
               config = saved("XDG_CONFIG_HOME");
    unsetenv("DIALSCOPE_REGISTRY_DIR");
    setenv("HOME", "/home/op", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(RegistryStore::defaultPath(RegistryRoot::CurrentUser),
              "/home/op/.config/dialscope/user.sqlite");
    unsetenv("HOME");
    EXPECT_EQ(RegistryStore::defaultPath(RegistryRoot::CurrentUser), "");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegistryStore::defaultPath(RegistryRoot::CurrentUser), "");
    EXPECT_EQ(RegistryStore::defaultPath(RegistryRoot::LocalMachine), "/var/lib/dialscope/machine.sqlite");
    restore("DIALSCOPE_REGISTRY_DIR", registryDir);
    restore("HOME", home);
    restore("XDG_CONFIG_HOME", config);
}

// Store objects in several threads (one each) share the file: every write
// lands, none fails for a busy file, and the file stays sound.
TEST(RegistryFiles, StoreObjectsInThreadsShareOneFile) {
    TempDir dir("registry-threads");
    std::string file = dir.file("user.sqlite");
    constexpr int kThreads = 4;
    constexpr int kWrites = 60;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                // A fresh object now and then, as short-lived callers do.
                RegistryStore store(file);
                RegistryKey key = store.createKey("threads\\T" + std::to_string(t));
                if (!key || !key.setDword("V" + std::to_string(i), uint32_t(i)))
                    ++failures[size_t(t)];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    RegistryStore store(file);
    EXPECT_TRUE(store.checkIntegrity());
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(failures[size_t(t)], 0) << t;
        RegistryKey key = store.openKey("threads\\t" + std::to_string(t));
        ASSERT_TRUE(key);
        EXPECT_EQ(key.values().size(), size_t(kWrites));
    }
}

} // namespace
