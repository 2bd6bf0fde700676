// A store file that is not a sound store never takes its user down: reads
// find nothing (callers fall back to defaults), writes fail, and the file is
// left exactly as it was.
#include "platform/registry/RegistryStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// Every operation a caller may try on a store that must count as unusable.
void expectNothingReadNothingWritten(RegistryStore& store) {
    EXPECT_FALSE(store.writable());
    EXPECT_FALSE(store.checkIntegrity());
    RegistryKey profile = store.openKey("software\\Kestrel-Lookout\\Dialscope\\Setting");
    EXPECT_FALSE(profile);
    EXPECT_FALSE(profile.queryValue("CheckTimer"));
    RegistryKey root = store.openKey("");
    EXPECT_FALSE(root.subkeyCount().value_or(0));
    EXPECT_FALSE(root.subkeyName(0));
    EXPECT_TRUE(root.subkeysWithValues().empty());
    EXPECT_FALSE(store.createKey("software\\new"));
    EXPECT_FALSE(store.createKey("software\\Kestrel-Lookout\\Dialscope\\Setting").setDword("CheckTimer", 1));
    EXPECT_FALSE(root.setDword("x", 1));
    EXPECT_FALSE(root.deleteValue("x"));
    EXPECT_FALSE(store.deleteKey("software\\Kestrel-Lookout\\RemotePhone\\alice"));
    WriteBatch batch(store);
    EXPECT_FALSE(batch.commit());
}

// A real store with enough keys to span many pages.
std::string makeRealStore(const std::string& path) {
    {
        RegistryStore store(path);
        WriteBatch batch(store);
        for (int i = 0; i < 400; ++i) {
            RegistryKey key =
                store.createKey("software\\Kestrel-Lookout\\RemotePhone\\entry" + std::to_string(i));
            key.setString("Name", "entry" + std::to_string(i));
            key.setString("Memo", std::string(50, char('a' + i % 26)));
        }
        store.createKey("software\\Kestrel-Lookout\\Dialscope\\Setting").setDword("CheckTimer", 30);
        EXPECT_TRUE(batch.commit());
    }
    return readBytes(path);
}

class RegistryCorruptTest : public ::testing::Test {
protected:
    TempDir m_dir{"registry-corrupt"};
    std::string m_file = m_dir.file("user.sqlite");
};

TEST_F(RegistryCorruptTest, GarbageFileIsLeftAlone) {
    std::mt19937 random(7);
    std::string garbage(16384, '\0');
    for (char& c : garbage)
        c = char(random());
    // Plain garbage, and garbage behind a valid-looking header.
    for (const std::string& bytes : {garbage, std::string("SQLite format 3\0", 16) + garbage}) {
        writeBytes(m_file, bytes);
        {
            RegistryStore store(m_file);
            EXPECT_FALSE(store.usable());
            expectNothingReadNothingWritten(store);
        }
        EXPECT_EQ(readBytes(m_file), bytes);
    }
}

TEST_F(RegistryCorruptTest, TruncatedStoreIsLeftAlone) {
    const std::string whole = makeRealStore(m_file);
    ASSERT_GT(whole.size(), 16u * 4096u) << "the store should span many pages";
    const size_t page = 4096;
    for (size_t cut : {size_t(50), size_t(100), page, page + 100, whole.size() / 2 / page * page,
                       whole.size() / 2 + 1000, whole.size() - page, whole.size() - 1}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::string bytes = whole.substr(0, cut);
        writeBytes(m_file, bytes);
        {
            RegistryStore store(m_file);
            expectNothingReadNothingWritten(store);
        }
        EXPECT_EQ(readBytes(m_file), bytes);
        std::filesystem::remove(m_file + "-wal");
        std::filesystem::remove(m_file + "-shm");
    }
    // The untouched store still reads fine.
    writeBytes(m_file, whole);
    RegistryStore store(m_file);
    EXPECT_TRUE(store.checkIntegrity());
    EXPECT_EQ(store.openKey("software\\kestrel-lookout\\remotephone").subkeyCount(), 400u);
}

// Sound SQLite files that are not ours to change: another program's
// database, and a store written by a newer version of this program.
TEST_F(RegistryCorruptTest, OtherDatabasesAndNewerLayoutsAreLeftAlone) {
    makeRealStore(m_dir.file("newer.sqlite"));
    for (const auto& [file, sql] :
         {std::pair{m_dir.file("other.sqlite"),
                    "CREATE TABLE songs(title TEXT); INSERT INTO songs VALUES('x');"},
          std::pair{m_dir.file("newer.sqlite"), "PRAGMA user_version = 7;"}}) {
        SCOPED_TRACE(file);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=DELETE;", nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        const std::string bytes = readBytes(file);
        {
            RegistryStore store(file);
            EXPECT_FALSE(store.usable());
            expectNothingReadNothingWritten(store);
        }
        EXPECT_EQ(readBytes(file), bytes);
    }
    // A store this version writes says which layout it has.
    RegistryStore ours(m_file);
    ASSERT_TRUE(ours.writable());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_file.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 1);
    sqlite3_finalize(st);
    sqlite3_close(db);
}

TEST_F(RegistryCorruptTest, FolderInPlaceOfTheFile) {
    ASSERT_EQ(::mkdir(m_file.c_str(), 0700), 0);
    {
        RegistryStore store(m_file);
        EXPECT_FALSE(store.usable());
        expectNothingReadNothingWritten(store);
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_file));
    EXPECT_TRUE(std::filesystem::is_empty(m_file));
}

TEST_F(RegistryCorruptTest, MissingFolderThatCannotBeMade) {
    // A regular file where the store's folder should be.
    writeBytes(m_dir.file("blocker"), "x");
    RegistryStore store(m_dir.file("blocker/user.sqlite"));
    EXPECT_FALSE(store.usable());
    expectNothingReadNothingWritten(store);
    EXPECT_EQ(readBytes(m_dir.file("blocker")), "x");
}

} // namespace
