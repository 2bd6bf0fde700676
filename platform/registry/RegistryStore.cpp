#include "platform/registry/RegistryStore.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the store's warnings go: nowhere until a program names a sink, so a
// library built on the store (Purgekit) prints nothing into its host.
std::atomic<RegistryStore::WarningSink> g_warningSink{nullptr};

__attribute__((format(printf, 1, 2))) void storeWarning(const char* format, ...) {
    const RegistryStore::WarningSink sink = g_warningSink.load();
    if (!sink)
        return;
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    sink(text);
}

} // namespace

void RegistryStore::setWarningSink(WarningSink sink) {
    g_warningSink = sink;
}

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int64_t kRootId = 1;

// Writes go to a file that holds passwords in plain text: only the owner may
// read it, and only the owner may list its folder.
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// The layout this program writes (PRAGMA user_version). A store from a newer
// program is left alone: its settings read as defaults and nothing is written.
// Stores made before the version was kept hold 0 and have the same layout.
constexpr int kSchemaVersion = 1;

// Opening a file another store object holds: how often and how far apart the
// journal mode change is tried.
constexpr int kJournalModeAttempts = 50;
constexpr useconds_t kJournalModeRetryUs = 20 * 1000;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, name COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, name)) WITHOUT ROWID;
INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, 0, '');
PRAGMA user_version = 1;
)sql";

const char* const kStatementSql[] = {
    // FindChild
    "SELECT id FROM keys WHERE parent = ?1 AND name = ?2 COLLATE NOCASE",
    // InsertKey
    "INSERT INTO keys(parent, name) VALUES(?1, ?2)",
    // CountChildren
    "SELECT count(*) FROM keys WHERE parent = ?1",
    // ListChildren
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY name COLLATE NOCASE",
    // KeyExists
    "SELECT 1 FROM keys WHERE id = ?1",
    // DeleteKeyValues
    "DELETE FROM vals WHERE key = ?1",
    // DeleteKeyRow
    "DELETE FROM keys WHERE id = ?1 AND NOT EXISTS(SELECT 1 FROM keys WHERE parent = ?1)",
    // SetValue: only for a key that still exists
    "INSERT OR REPLACE INTO vals(key, name, type, data) SELECT ?1, ?2, ?3, ?4 "
    "WHERE EXISTS(SELECT 1 FROM keys WHERE id = ?1)",
    // GetValue
    "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2",
    // DeleteValue
    "DELETE FROM vals WHERE key = ?1 AND name = ?2",
    // ListValues
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name",
    // ChildrenWithValues
    "SELECT k.name, v.name, v.type, v.data FROM keys k LEFT JOIN vals v ON v.key = k.id "
    "WHERE k.parent = ?1 ORDER BY k.name COLLATE NOCASE, k.id",
    // KeyName
    "SELECT name FROM keys WHERE id = ?1",
    // DataVersion
    "PRAGMA data_version",
};

bool asciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Splits "a\b\c" into its names; nothing when a name is empty.
std::optional<std::vector<std::string_view>> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty())
        return parts;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string_view part = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (part.empty())
            return std::nullopt;
        parts.push_back(part);
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

std::string_view columnBytes(sqlite3_stmt* st, int col) {
    const void* p = sqlite3_column_blob(st, col);
    int n = sqlite3_column_bytes(st, col);
    return p ? std::string_view(static_cast<const char*>(p), size_t(n)) : std::string_view();
}

std::string_view columnText(sqlite3_stmt* st, int col) {
    const unsigned char* p = sqlite3_column_text(st, col);
    int n = sqlite3_column_bytes(st, col);
    return p ? std::string_view(reinterpret_cast<const char*>(p), size_t(n)) : std::string_view();
}

void bindText(sqlite3_stmt* st, int index, std::string_view text) {
    sqlite3_bind_text(st, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

// Resets a statement when the caller is done with it, whatever path it takes.
class StatementScope {
public:
    explicit StatementScope(sqlite3_stmt* st)
        : m_st(st) {}
    ~StatementScope() {
        if (m_st) {
            sqlite3_reset(m_st);
            sqlite3_clear_bindings(m_st);
        }
    }
    StatementScope(const StatementScope&) = delete;
    StatementScope& operator=(const StatementScope&) = delete;

private:
    sqlite3_stmt* m_st;
};

std::string folderOf(const std::string& filePath) {
    const size_t slash = filePath.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : filePath.substr(0, slash);
}

// Creates the folder chain for a store file; the last folder gets mode 0700.
void makeFolders(const std::string& filePath) {
    const std::string folder = folderOf(filePath);
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos == folder.size() || folder[pos] == '/')
            ::mkdir(folder.substr(0, pos).c_str(), pos == folder.size() ? kFolderMode : 0755);
    }
}

// Brings a path we own down to `mode` when it allows more; anything owned by
// someone else is theirs to set. Only permission bits that are too wide are
// taken away.
void tighten(const std::string& path, mode_t mode) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid() || S_ISLNK(st.st_mode))
        return;
    if ((st.st_mode & 07777 & ~mode) == 0)
        return;
    if (::chmod(path.c_str(), st.st_mode & mode) != 0)
        storeWarning("cannot restrict %s to %o: %s", path.c_str(), unsigned(mode), std::strerror(errno));
}

// An absolute folder from an environment variable; relative ones do not count.
const char* absoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : nullptr;
}

} // namespace

std::optional<uint32_t> RegValue::dword() const {
    if (data.size() != 4)
        return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(data.data());
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

RegValue RegValue::fromDword(uint32_t value) {
    RegValue v{RegType::Dword, std::string(4, '\0')};
    for (int i = 0; i < 4; ++i)
        v.data[size_t(i)] = char(uint8_t(value >> (8 * i)));
    return v;
}

const RegValue* SubkeyValues::find(std::string_view valueName) const {
    for (const NamedValue& v : values)
        if (asciiIEquals(v.name, valueName))
            return &v.value;
    return nullptr;
}

std::string RegistryStore::defaultPath(RegistryRoot root) {
    const char* fileName = root == RegistryRoot::CurrentUser ? "user.sqlite" : "machine.sqlite";
    if (const char* dir = std::getenv("DIALSCOPE_REGISTRY_DIR"); dir && *dir)
        return std::string(dir) + "/" + fileName;
    if (root == RegistryRoot::LocalMachine)
        return std::string("/var/lib/dialscope/") + fileName;
    std::string config;
    if (const char* xdg = absoluteEnv("XDG_CONFIG_HOME"))
        config = xdg;
    else if (const char* home = absoluteEnv("HOME"))
        config = std::string(home) + "/.config";
    else
        return {}; // nowhere private to keep passwords; a shared folder is no place for them
    return config + "/dialscope/" + fileName;
}

RegistryStore::RegistryStore(const std::string& filePath, OpenMode mode)
    : m_path(filePath) {
    if (filePath.empty()) {
        storeWarning("no folder for the settings store (neither XDG_CONFIG_HOME nor HOME is set)");
        return;
    }
    struct stat st {};
    const bool existed = ::stat(filePath.c_str(), &st) == 0;
    if (!existed && mode == OpenMode::ExistingOnly)
        return; // looking, not creating: a missing store has nothing to show
    makeFolders(filePath);
    if (existed && !S_ISREG(st.st_mode)) {
        storeWarning("%s is not a regular file", filePath.c_str());
        return; // a folder or a device where the file should be
    }
    // Modes are checked at every open, not only at creation: a folder or
    // store file left wider (by hand, by a copy, by an old version) is
    // narrowed again when it is ours. The store's own folder is only narrowed
    // when it is the program's ("dialscope"); a folder named by the caller is
    // theirs, and so is a file that turns out not to be a store.
    if (const std::string folder = folderOf(filePath);
        folder.size() >= 10 && folder.compare(folder.size() - 10, 10, "/dialscope") == 0)
        tighten(folder, kFolderMode);
    if (!existed) {
        // Created owner-only from the first byte: a file made by SQLite would
        // be readable by others until a chmod. Closing this descriptor is
        // harmless, as no store object can hold locks on a file made just now.
        const int fd =
            ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
        if (fd >= 0)
            ::close(fd);
        else if (errno != EEXIST)
            storeWarning("cannot create %s: %s", filePath.c_str(), std::strerror(errno));
    }

    // An existing file is never opened here outside SQLite: closing any
    // descriptor of it would drop the POSIX locks that other store objects of this process
    // hold on it, and another process could then take itself for the file's
    // last user and remove the write-ahead log under them. SQLite falls back to read-only access on a file it
    // may not write.
    int rc = sqlite3_open_v2(filePath.c_str(), &m_db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        storeWarning("cannot open %s: %s", filePath.c_str(), sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // SQLite gives its side files the same mode as the store file.
    m_readOnly = sqlite3_db_readonly(m_db, "main") == 1;
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);

    // Reading the schema is the first real access: a file that is not a
    // database, or is damaged, shows here.
    if (!exec("PRAGMA schema_version") || !plausibleFileSize()) {
        storeWarning("%s is damaged or not a database; left as it is", filePath.c_str());
        m_broken = true;
        return;
    }
    if (const int version = pragmaInt("PRAGMA user_version"); version > kSchemaVersion) {
        storeWarning("%s has layout %d, newer than this program's %d; left as it is", filePath.c_str(),
                     version, kSchemaVersion);
        m_broken = true;
        return;
    }
    // Nothing is changed in a file before it is known to be a store (or new).
    bool ours = hasSchema();
    if (!ours && (m_broken || m_readOnly)) {
        // Nothing to read, and the file must stay as it is.
        m_broken = true;
        return;
    }
    if (!ours) {
        // A new file: look again and create the tables under the write lock,
        // so that store objects opening the same new file at once (threads or
        // processes) never take each other's half-made file for another
        // program's database. Taking the lock changes no byte of the file.
        if (!exec("BEGIN IMMEDIATE")) {
            m_readOnly = true;
        } else if (hasSchema()) {
            exec("COMMIT");
            ours = true;
        } else if (pragmaInt("SELECT count(*) FROM sqlite_master") != 0) {
            // Another program's database: ours to leave alone, as a damaged file.
            exec("ROLLBACK");
            storeWarning("%s is not a settings store; left as it is", filePath.c_str());
            m_broken = true;
            return;
        } else if (!exec(kSchema) || !exec("COMMIT")) {
            exec("ROLLBACK");
            m_readOnly = true;
        }
    }
    // In WAL mode a commit survives the process being killed at any moment
    // without waiting for the disk. Changing the mode needs the file to
    // itself and SQLite does not wait for that, so a busy file is tried again
    // for a while; a file that stays busy is used in its present mode.
    if (!m_readOnly) {
        int modeRc = SQLITE_OK;
        for (int attempt = 0;; ++attempt) {
            modeRc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
            if (modeRc == SQLITE_OK)
                modeRc = sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
            const int primary = modeRc & 0xff;
            if (modeRc == SQLITE_OK || (primary != SQLITE_BUSY && primary != SQLITE_LOCKED) ||
                attempt == kJournalModeAttempts)
                break;
            ::usleep(kJournalModeRetryUs);
        }
        if (modeRc != SQLITE_OK) {
            storeWarning("%s: the journal mode stays as it is: %s", filePath.c_str(), sqlite3_errmsg(m_db));
            noteError(modeRc);
            const int primary = modeRc & 0xff;
            if (primary != SQLITE_BUSY && primary != SQLITE_LOCKED)
                m_readOnly = true;
        }
    }
    if (ours) {
        // A file (or side file) left wider than owner-only is narrowed.
        for (const char* suffix : {"", "-wal", "-shm"})
            tighten(filePath + suffix, kFileMode);
        return;
    }
    if (!hasSchema())
        m_broken = true;
}

bool RegistryStore::hasSchema() {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT (SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                           "('keys', 'vals')) = 2 AND EXISTS(SELECT 1 FROM keys WHERE id = 1)",
                           -1, &st, nullptr) != SQLITE_OK) {
        // A missing table fails the statement; only damage counts as an error.
        sqlite3_finalize(st);
        int rc = sqlite3_extended_errcode(m_db);
        noteError(rc);
        return false;
    }
    int rc = sqlite3_step(st);
    bool present = rc == SQLITE_ROW && sqlite3_column_int(st, 0) == 1;
    if (rc != SQLITE_ROW)
        noteError(rc);
    sqlite3_finalize(st);
    return present;
}

int RegistryStore::pragmaInt(const char* sql) {
    sqlite3_stmt* st = nullptr;
    int value = -1;
    if (sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        value = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    return value;
}

bool RegistryStore::plausibleFileSize() {
    // SQLite itself notices a file shorter than its header says, but reads
    // the missing tail of a partly cut last page as zeros, and takes a file
    // shorter than a page for a new, empty database that it may overwrite.
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0)
        return false;
    if (st.st_size == 0)
        return true;
    sqlite3_stmt* ps = nullptr;
    int64_t pageSize = 0;
    if (sqlite3_prepare_v2(m_db, "PRAGMA page_size", -1, &ps, nullptr) == SQLITE_OK &&
        sqlite3_step(ps) == SQLITE_ROW)
        pageSize = sqlite3_column_int64(ps, 0);
    sqlite3_finalize(ps);
    return pageSize > 0 && st.st_size >= pageSize && st.st_size % pageSize == 0;
}

RegistryStore::~RegistryStore() {
    for (sqlite3_stmt*& st : m_statements)
        sqlite3_finalize(st);
    sqlite3_close(m_db);
}

bool RegistryStore::exec(const char* sql) {
    if (!m_db)
        return false;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        storeWarning("%s: \"%.40s\" failed: %s", m_path.c_str(), sql, sqlite3_errmsg(m_db));
        noteError(rc);
        return false;
    }
    return true;
}

void RegistryStore::noteError(int rc) {
    int primary = rc & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        m_broken = true;
}

sqlite3_stmt* RegistryStore::statement(Statement which) {
    if (!usable())
        return nullptr;
    if (!m_statements[which]) {
        int rc = sqlite3_prepare_v3(m_db, kStatementSql[which], -1, SQLITE_PREPARE_PERSISTENT,
                                    &m_statements[which], nullptr);
        if (rc != SQLITE_OK) {
            noteError(rc);
            return nullptr;
        }
    }
    return m_statements[which];
}

uint64_t RegistryStore::version() {
    uint64_t external = 0;
    if (sqlite3_stmt* st = statement(DataVersion)) {
        StatementScope scope(st);
        if (sqlite3_step(st) == SQLITE_ROW)
            external = uint64_t(sqlite3_column_int64(st, 0));
    }
    return external << 32 ^ m_localWrites;
}

std::optional<int64_t> RegistryStore::findChild(int64_t parent, std::string_view name) {
    sqlite3_stmt* st = statement(FindChild);
    if (!st)
        return std::nullopt;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, parent);
    bindText(st, 2, name);
    int rc = sqlite3_step(st);
    if (rc == SQLITE_ROW)
        return sqlite3_column_int64(st, 0);
    if (rc != SQLITE_DONE)
        noteError(rc);
    return std::nullopt;
}

RegistryKey RegistryStore::openKey(std::string_view path) {
    return RegistryKey(this, kRootId).openSubkey(path);
}

RegistryKey RegistryStore::createKey(std::string_view path) {
    return RegistryKey(this, kRootId).createSubkey(path);
}

bool RegistryStore::deleteKey(std::string_view path) {
    return RegistryKey(this, kRootId).deleteSubkey(path);
}

void RegistryStore::setBusyTimeout(int milliseconds) {
    if (m_db)
        sqlite3_busy_timeout(m_db, milliseconds);
}

bool RegistryStore::checkIntegrity() {
    if (!usable())
        return false;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db, "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
        return false;
    bool ok = sqlite3_step(st) == SQLITE_ROW && columnText(st, 0) == "ok";
    sqlite3_finalize(st);
    return ok;
}

WriteBatch::WriteBatch(RegistryStore& store)
    : m_store(store) {
    m_outer = store.m_batchDepth == 0;
    ++store.m_batchDepth;
    if (m_outer && (!store.writable() || !store.exec("BEGIN IMMEDIATE"))) {
        // Without the transaction every write inside would commit on its own
        // and a part of the batch would stay: the batch writes nothing.
        m_done = true;
        store.m_batchFailed = true;
    }
}

WriteBatch::~WriteBatch() {
    --m_store.m_batchDepth;
    if (m_outer)
        m_store.m_batchFailed = false;
    if (m_outer && !m_done) {
        m_store.exec("ROLLBACK");
        // Enumerations cached inside the batch may list keys that are gone now.
        m_store.bumpVersion();
    }
}

bool WriteBatch::commit() {
    if (!m_outer)
        return true;
    if (m_done)
        return false;
    m_done = true;
    if (!m_store.exec("COMMIT")) {
        m_store.exec("ROLLBACK");
        return false;
    }
    m_store.bumpVersion();
    return true;
}

bool RegistryKey::exists() const {
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::KeyExists) : nullptr;
    if (!st)
        return false;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    return sqlite3_step(st) == SQLITE_ROW;
}

std::optional<std::string> RegistryKey::name() const {
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::KeyName) : nullptr;
    if (!st)
        return std::nullopt;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    if (sqlite3_step(st) != SQLITE_ROW)
        return std::nullopt;
    return std::string(columnText(st, 0));
}

RegistryKey RegistryKey::openSubkey(std::string_view relativePath) const {
    if (!m_store)
        return {};
    auto parts = splitPath(relativePath);
    if (!parts)
        return {};
    if (parts->empty())
        return exists() ? RegistryKey(m_store, m_id) : RegistryKey();
    int64_t id = m_id;
    for (std::string_view part : *parts) {
        auto child = m_store->findChild(id, part);
        if (!child)
            return {};
        id = *child;
    }
    return RegistryKey(m_store, id);
}

RegistryKey RegistryKey::createSubkey(std::string_view relativePath) const {
    if (!m_store || !m_store->writable())
        return {};
    auto parts = splitPath(relativePath);
    if (!parts)
        return {};
    // A chain that is all there is opened without taking the write lock, so
    // a reader never waits for another process's transaction.
    if (!parts->empty())
        if (RegistryKey existing = openSubkey(relativePath))
            return existing;
    WriteBatch batch(*m_store);
    if (!exists())
        return {};
    int64_t id = m_id;
    for (std::string_view part : *parts) {
        if (auto child = m_store->findChild(id, part)) {
            id = *child;
            continue;
        }
        sqlite3_stmt* st = m_store->statement(RegistryStore::InsertKey);
        if (!st)
            return {};
        StatementScope scope(st);
        sqlite3_bind_int64(st, 1, id);
        bindText(st, 2, part);
        if (int rc = sqlite3_step(st); rc != SQLITE_DONE) {
            m_store->noteError(rc);
            return {};
        }
        id = sqlite3_last_insert_rowid(m_store->m_db);
        // Inside an outer batch no commit follows here: stale enumerations must see the new key.
        m_store->bumpVersion();
    }
    if (!batch.commit())
        return {};
    return RegistryKey(m_store, id);
}

bool RegistryKey::deleteSubkey(std::string_view relativePath) const {
    if (!m_store || !m_store->writable() || relativePath.empty())
        return false;
    RegistryKey target = openSubkey(relativePath);
    if (!target)
        return false;
    WriteBatch batch(*m_store);
    sqlite3_stmt* del = m_store->statement(RegistryStore::DeleteKeyRow);
    if (!del)
        return false;
    {
        StatementScope scope(del);
        sqlite3_bind_int64(del, 1, target.m_id);
        if (int rc = sqlite3_step(del); rc != SQLITE_DONE) {
            m_store->noteError(rc);
            return false;
        }
        if (sqlite3_changes(m_store->m_db) == 0)
            return false;
        m_store->bumpVersion();
    }
    sqlite3_stmt* vals = m_store->statement(RegistryStore::DeleteKeyValues);
    if (!vals)
        return false;
    StatementScope scope(vals);
    sqlite3_bind_int64(vals, 1, target.m_id);
    if (int rc = sqlite3_step(vals); rc != SQLITE_DONE) {
        m_store->noteError(rc);
        return false;
    }
    return batch.commit();
}

std::optional<uint32_t> RegistryKey::subkeyCount() const {
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::CountChildren) : nullptr;
    if (!st || !exists())
        return std::nullopt;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    if (sqlite3_step(st) != SQLITE_ROW)
        return std::nullopt;
    return uint32_t(sqlite3_column_int64(st, 0));
}

std::optional<std::string> RegistryKey::subkeyName(uint32_t index) const {
    if (!m_store || !m_store->usable())
        return std::nullopt;
    uint64_t version = m_store->version();
    if (!m_enumCached || m_enumVersion != version) {
        sqlite3_stmt* st = m_store->statement(RegistryStore::ListChildren);
        if (!st)
            return std::nullopt;
        StatementScope scope(st);
        sqlite3_bind_int64(st, 1, m_id);
        m_enumCache.clear();
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW)
            m_enumCache.emplace_back(columnText(st, 0));
        if (rc != SQLITE_DONE) {
            m_store->noteError(rc);
            m_enumCached = false;
            return std::nullopt;
        }
        m_enumCached = true;
        m_enumVersion = version;
    }
    if (index >= m_enumCache.size())
        return std::nullopt;
    return m_enumCache[index];
}

std::vector<SubkeyValues> RegistryKey::subkeysWithValues() const {
    std::vector<SubkeyValues> result;
    forEachSubkeyWithValues([&result](SubkeyValues& subkey) { result.push_back(std::move(subkey)); });
    return result;
}

void RegistryKey::forEachSubkeyWithValues(const std::function<void(SubkeyValues&)>& visit) const {
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::ChildrenWithValues) : nullptr;
    if (!st)
        return;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    // Rows come key by key; names are unique under one parent, so a change of
    // name starts the next key. Value slots are reused from key to key.
    SubkeyValues current;
    size_t used = 0;
    bool started = false;
    auto flush = [&] {
        current.values.resize(used);
        visit(current);
        // Sibling keys mostly hold the same values: when the visitor took
        // them, make room for as many at once.
        current.values.reserve(used);
        used = 0;
    };
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        std::string_view keyName = columnText(st, 0);
        if (!started || keyName != current.name) {
            if (started)
                flush();
            current.name.assign(keyName);
            started = true;
        }
        if (sqlite3_column_type(st, 1) == SQLITE_NULL)
            continue;
        if (used == current.values.size())
            current.values.emplace_back();
        NamedValue& value = current.values[used++];
        value.name.assign(columnText(st, 1));
        value.value.type = RegType(sqlite3_column_int64(st, 2));
        value.value.data.assign(columnBytes(st, 3));
    }
    if (rc != SQLITE_DONE)
        m_store->noteError(rc);
    else if (started)
        flush();
}

bool RegistryKey::setValue(std::string_view valueName, const RegValue& value) const {
    if (!m_store || !m_store->writable())
        return false;
    sqlite3_stmt* st = m_store->statement(RegistryStore::SetValue);
    if (!st)
        return false;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    bindText(st, 2, valueName);
    sqlite3_bind_int64(st, 3, int64_t(value.type));
    sqlite3_bind_blob(st, 4, value.data.data(), int(value.data.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
        m_store->noteError(rc);
        return false;
    }
    m_store->bumpVersion();
    return sqlite3_changes(m_store->m_db) > 0;
}

std::optional<RegValue> RegistryKey::queryValue(std::string_view valueName) const {
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::GetValue) : nullptr;
    if (!st)
        return std::nullopt;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    bindText(st, 2, valueName);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            m_store->noteError(rc);
        return std::nullopt;
    }
    return RegValue{RegType(sqlite3_column_int64(st, 0)), std::string(columnBytes(st, 1))};
}

bool RegistryKey::deleteValue(std::string_view valueName) const {
    if (!m_store || !m_store->writable())
        return false;
    sqlite3_stmt* st = m_store->statement(RegistryStore::DeleteValue);
    if (!st)
        return false;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    bindText(st, 2, valueName);
    int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) {
        m_store->noteError(rc);
        return false;
    }
    m_store->bumpVersion();
    return sqlite3_changes(m_store->m_db) > 0;
}

std::vector<NamedValue> RegistryKey::values() const {
    std::vector<NamedValue> result;
    sqlite3_stmt* st = m_store ? m_store->statement(RegistryStore::ListValues) : nullptr;
    if (!st)
        return result;
    StatementScope scope(st);
    sqlite3_bind_int64(st, 1, m_id);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        result.push_back({std::string(columnText(st, 0)),
                          {RegType(sqlite3_column_int64(st, 1)), std::string(columnBytes(st, 2))}});
    if (rc != SQLITE_DONE)
        m_store->noteError(rc);
    return result;
}
