#pragma once

// A hierarchical settings store with the semantics of a registry, kept in one
// SQLite file per root (per-user and machine-wide).
//
// How it works: every key is a row (id, parent, name) and every value a row
// (key, name, type, bytes). Names compare case-insensitively (ASCII) and keep
// the spelling they were created with. Paths are key names separated by "\".
// The file is in WAL mode with a busy timeout, so several processes (the
// program and any program that loads the settings-cleaner library) use it at
// once; every single write is atomic, and a WriteBatch makes several writes
// one atomic step. A process killed mid-write leaves every completed write
// intact.
//
// Key ids are never reused, so a handle to a deleted key never reaches a key
// made later. Opening an existing store never waits for another process's
// write.
//
// A file that is corrupt, cut short, unreadable or not writable never takes
// the program down: the store reports itself unusable (reads find nothing, so
// callers fall back to their defaults) or read-only (writes fail), and the
// file is left in place untouched.
//
// A store object and its keys are used by one thread at a time; open one store
// object per thread to share a file between threads.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class RegistryKey;

enum class RegistryRoot { CurrentUser, LocalMachine };

// Value types, numbered as the registry numbers them.
enum class RegType : uint32_t { None = 0, String = 1, ExpandString = 2, Binary = 3, Dword = 4 };

struct RegValue {
    RegType type = RegType::None;
    std::string data; // exactly the stored bytes

    // The value read as a 32-bit little-endian integer: only for a 4-byte value.
    std::optional<uint32_t> dword() const;
    static RegValue fromDword(uint32_t value);
    static RegValue fromString(std::string_view bytes) { return {RegType::String, std::string(bytes)}; }
};

struct NamedValue {
    std::string name;
    RegValue value;
};

// A subkey with all its values, as a bulk enumeration returns it.
struct SubkeyValues {
    std::string name;
    std::vector<NamedValue> values;

    // The value of that name (case-insensitive), or nullptr.
    const RegValue* find(std::string_view valueName) const;
};

class RegistryStore {
public:
    // Receives every warning of every store (a file left alone, a failed
    // statement, with the reason), from any thread. None is set at first, so
    // the store says nothing; programs pass their log.
    using WarningSink = void (*)(const char* message);
    static void setWarningSink(WarningSink sink);

    enum class OpenMode {
        CreateIfMissing, // a missing file (and its folder) is created
        ExistingOnly,    // a missing file leaves the store unusable; nothing is created
    };

    // Opens (creating when missing and allowed) the store file. Never fails
    // outright: check usable() and writable(). An empty path (no folder for
    // the per-user store) gives an unusable store. Every open narrows a
    // store file we own to 0600, and its folder to 0700 when it is the
    // program's "dialscope" folder; a new file is 0600 from the start.
    // A database that is not a store, or one written by a newer version of
    // this program (user_version), is left untouched and is unusable.
    explicit RegistryStore(const std::string& filePath, OpenMode mode = OpenMode::CreateIfMissing);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // The file of a root: both in $DIALSCOPE_REGISTRY_DIR when set; otherwise
    // the per-user store under $XDG_CONFIG_HOME (or ~/.config)/dialscope and
    // the machine-wide one under /var/lib/dialscope. Only absolute
    // XDG_CONFIG_HOME and HOME count; without either the per-user path is
    // empty (there is no shared fallback).
    static std::string defaultPath(RegistryRoot root);

    bool usable() const { return m_db != nullptr && !m_broken; }
    // False as well inside a WriteBatch that could not begin, so none of its
    // writes lands on its own.
    bool writable() const { return usable() && !m_readOnly && !m_batchFailed; }
    const std::string& filePath() const { return m_path; }

    // The key at `path` below the root, "" being the root itself. openKey fails
    // on a missing key; createKey creates every missing key along the path.
    RegistryKey openKey(std::string_view path);
    RegistryKey createKey(std::string_view path);
    // Deletes the key at `path` with its values; fails when it is missing, is
    // the root, or has subkeys.
    bool deleteKey(std::string_view path);

    // How long a write waits for another connection's transaction before it
    // fails (10 s unless changed; tests use less).
    void setBusyTimeout(int milliseconds);

    // Runs PRAGMA integrity_check; true when the file is sound.
    bool checkIntegrity();

    // Changes when another connection (another process, or another store
    // object on the same file) committed a write since this one last asked;
    // this object's own writes leave it alone. For caches derived from the store.
    uint64_t othersVersion() { return version() >> 32; }

private:
    friend class RegistryKey;
    friend class WriteBatch;

    enum Statement {
        FindChild,
        InsertKey,
        CountChildren,
        ListChildren,
        KeyExists,
        DeleteKeyValues,
        DeleteKeyRow,
        SetValue,
        GetValue,
        DeleteValue,
        ListValues,
        ChildrenWithValues,
        KeyName,
        DataVersion,
        StatementCount
    };

    sqlite3_stmt* statement(Statement which);
    // Records a failure; corruption marks the store unusable.
    void noteError(int rc);
    bool exec(const char* sql);
    // True when the store's tables and root key are in the file.
    bool hasSchema();
    // The first column of a one-row query; -1 when it fails.
    int pragmaInt(const char* sql);
    // False for a file whose size no sound database file has.
    bool plausibleFileSize();
    // Child id of `name` under `parent`, or nothing (missing or on error).
    std::optional<int64_t> findChild(int64_t parent, std::string_view name);
    // Changes whenever this or another connection committed a write; key
    // handles use it to know when their enumeration cache is stale.
    uint64_t version();
    void bumpVersion() { ++m_localWrites; }

    std::string m_path;
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_statements[StatementCount] = {};
    bool m_broken = false;
    bool m_readOnly = false;
    int m_batchDepth = 0;
    bool m_batchFailed = false;
    uint64_t m_localWrites = 0;
};

// Groups writes into one atomic step (BEGIN IMMEDIATE ... COMMIT), so a crash
// leaves all of them or none, and they cost one commit. Nested batches join
// the outer one. A batch that is destroyed without commit() is rolled back.
class WriteBatch {
public:
    explicit WriteBatch(RegistryStore& store);
    ~WriteBatch();
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
    bool commit();

private:
    RegistryStore& m_store;
    bool m_outer = false;
    bool m_done = false;
};

// An open key, like a registry key handle. A default-constructed or failed key
// is invalid and every operation on it fails. The store must outlive the key.
// If another process deletes the key, operations on the handle fail.
class RegistryKey {
public:
    RegistryKey() = default;

    bool valid() const { return m_store != nullptr; }
    explicit operator bool() const { return valid(); }

    RegistryKey openSubkey(std::string_view relativePath) const;
    RegistryKey createSubkey(std::string_view relativePath) const;
    bool deleteSubkey(std::string_view relativePath) const;

    // The key's own name as it was spelled when created ("" for the root).
    std::optional<std::string> name() const;

    std::optional<uint32_t> subkeyCount() const;
    // The name of the subkey at `index` in case-insensitive name order. A full
    // enumeration costs O(n) in total: the sorted names are read once and kept
    // until the store changes.
    std::optional<std::string> subkeyName(uint32_t index) const;
    // Every subkey with all its values, in the same order as subkeyName, in one
    // query; for loading whole stores quickly.
    std::vector<SubkeyValues> subkeysWithValues() const;
    // The same enumeration without holding every subkey in memory: `visit`
    // gets one subkey at a time (the object is reused and may be moved from).
    // `visit` must not use this store.
    void forEachSubkeyWithValues(const std::function<void(SubkeyValues&)>& visit) const;

    bool setValue(std::string_view valueName, const RegValue& value) const;
    bool setString(std::string_view valueName, std::string_view bytes) const {
        return setValue(valueName, RegValue::fromString(bytes));
    }
    bool setDword(std::string_view valueName, uint32_t value) const {
        return setValue(valueName, RegValue::fromDword(value));
    }
    std::optional<RegValue> queryValue(std::string_view valueName) const;
    bool deleteValue(std::string_view valueName) const;
    std::vector<NamedValue> values() const;

private:
    friend class RegistryStore;
    RegistryKey(RegistryStore* store, int64_t id)
        : m_store(store)
        , m_id(id) {}
    bool exists() const;

    RegistryStore* m_store = nullptr;
    int64_t m_id = 0;
    mutable std::vector<std::string> m_enumCache;
    mutable uint64_t m_enumVersion = 0;
    mutable bool m_enumCached = false;
};
