#pragma once

// The application's settings and stores: the profile "Dialscope" with its
// sections "Setting", "Key" and "Call", the phone book ("RemotePhone"), the
// event records ("RemotePerson"), the record folder and the start at log-in.
//
// How it works: every profile access walks the key chain "software" ->
// "Kestrel-Lookout" -> "Dialscope" -> section, creating what is missing (so
// even a read leaves the empty keys behind), and does its one value. Profile
// integers are 4-byte DWORDs, profile texts are stored with their terminating
// zero, entry texts without it. Texts are byte strings passed through unchanged
// (no character set conversion). Writes that belong together (an entry's
// values, the password pair, the call settings) go in one atomic batch, so a
// crash leaves all of them or none. A store that cannot be opened or written
// never stops the program: reads give their defaults and writes report false.
//
// Used on the UI thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class RegistryKey;
class RegistryStore;
struct RegValue;

// A phone book entry; Name is also the entry's key name.
struct PhoneEntry {
    std::string Name;
    std::string PassWord;
    std::string Dial;
    std::string Memo;
};

// The 300-byte identity block a calling site sends: four zero-terminated
// texts at fixed places.
inline constexpr size_t kEventBlockSize = 300;
using EventBlock = std::array<char, kEventBlockSize>;

struct EventRecord {
    struct Field {
        size_t offset;
        size_t size;
    };
    static constexpr Field kName{0, 30};
    static constexpr Field kTel{30, 30};
    static constexpr Field kAddress{60, 120};
    static constexpr Field kMemo{180, 120};

    std::string ID; // 14 digits, local time "%Y%m%d%H%M%S"; the entry's key name
    EventBlock block{};

    // The text of a field: its bytes before the first zero, at most the width.
    std::string text(Field field) const;
    // Puts `text` into a field, cut so that it fits with its terminating zero;
    // the rest of the field is zeroed.
    static void setText(EventBlock& block, Field field, std::string_view text);
    static EventBlock makeBlock(std::string_view name, std::string_view tel, std::string_view address,
                                std::string_view memo);
};

// The "Call" section: what the connect dialog stores and the login sends.
struct CallSettings {
    std::string user;
    std::string password;
    std::string dial;
    int32_t formatSize = 1; // 0 = 160 by 120, 1 = 320 by 240
    int32_t quality = 30;   // 0 to 100
    int32_t save = 0;       // 1 when the password is shown again
};

class AppStore {
public:
    // Integer settings of the "Setting" section, by identifier.
    static constexpr int kVideoArrange = 1;
    static constexpr int kLimitDiskSpace = 10;
    static constexpr int kCheckTimer = 11;
    static constexpr int kModem = 30;
    static constexpr int kMonitor = 31;
    static constexpr int kAutoRun = 50;
    static constexpr int kCallPanel = 60; // "CallPanel": 0 keeps the call panel hidden

    // Works on the given per-user and machine-wide stores, which must outlive it.
    AppStore(RegistryStore& userStore, RegistryStore& machineStore);
    // Opens the default store files of both roots and owns them.
    AppStore();
    ~AppStore();
    AppStore(const AppStore&) = delete;
    AppStore& operator=(const AppStore&) = delete;

    RegistryStore& userStore() { return m_user; }
    RegistryStore& machineStore() { return m_machine; }

    // The stored integer; -1 when it is missing or the identifier is unknown.
    int32_t GetSetting(int id);
    bool SetSetting(int id, int32_t value);

    // Each setting as its reader takes it.
    bool videoArrange();       // on unless stored as 0
    uint32_t limitDiskSpace(); // megabytes; 0, missing or above 9999 -> 50
    uint32_t checkTimer();     // seconds; 0, missing or above 300 -> 10
    int32_t modem();           // modem index; -1 when none was chosen
    bool autoRun();            // on only when stored as exactly 1

    // "Setting"/"Class Name": how a new process finds the running instance.
    std::string className();
    bool setClassName(const std::string& name);

    std::string GetAppUser();
    std::string GetAppPassword();
    bool SaveAppPassword(const std::string& user, const std::string& password);
    // True when both equal the stored pair byte for byte; the stored password
    // is not read when the user differs.
    bool CheckAppPassword(const std::string& user, const std::string& password);

    // The record folder, always ending with "/": the stored "RECPath" when it
    // names a reachable folder, else the process's current directory. The
    // stored value is never changed here, nor is the current directory.
    std::string GetRecordPath();
    // The stored "RECPath" as it is ("" when none), read from the store only:
    // the folder itself is not touched, so the user-interface thread may ask
    // even while the record volume hangs. resolveRecordPath of it, on a
    // thread that may wait, gives what GetRecordPath gives.
    std::string storedRecordPath();
    // The record folder that `stored` stands for: itself when it is a
    // reachable folder, else the current directory, with a trailing "/".
    // Touches the folder (stat, access): never on the user-interface thread.
    static std::string resolveRecordPath(const std::string& stored);
    bool SetRecordPath(const std::string& path);
    // The mount point of the volume holding the record folder.
    std::string GetRecordDrive();
    // Megabytes free to an unprivileged user there; 0 when unknown.
    uint32_t GetRecordFreeMB();

    // Starts the program at log-in or stops doing so: the machine-wide Run
    // value "Kestrel" (when that store can be written) and the user's desktop
    // autostart entry; in every case stores "AutoRun".
    void SetAutoRun(bool on);

    CallSettings callSettings();
    bool saveCallSettings(const CallSettings& settings);

    // Appends every stored entry, in the store's order.
    void LoadPhoneBook(std::vector<PhoneEntry>& list);
    // Creates or overwrites the entry; false for a name that cannot be a key
    // name (empty, too long, or holding "\") or when the store refuses.
    bool SavePhoneEntry(const PhoneEntry& entry);
    bool DeletePhoneEntry(const std::string& name);

    // Stores the block under the current local time as ID; a second record in
    // the same second replaces the first.
    bool AddEventRecord(const EventBlock& block);
    void LoadEventRecords(std::vector<EventRecord>& list);
    bool DeleteEventRecord(const std::string& id);

    // Any integer or text value of a profile section ("Dialscope" -> section),
    // for options kept in sections of their own.
    int32_t profileInt(std::string_view section, std::string_view name, int32_t fallback) {
        return readProfileInt(section, name, fallback);
    }
    bool setProfileInt(std::string_view section, std::string_view name, int32_t value) {
        return writeProfileInt(section, name, value);
    }
    std::string profileText(std::string_view section, std::string_view name, const std::string& fallback) {
        return readProfileText(section, name, fallback);
    }
    bool setProfileText(std::string_view section, std::string_view name, std::string_view text) {
        return writeProfileText(section, name, text);
    }

    // The clock event IDs are made from (tests pass a fixed one).
    void setClock(std::function<std::time_t()> now) { m_now = std::move(now); }

private:
    std::optional<RegValue> readProfile(std::string_view section, std::string_view name);
    bool writeProfile(std::string_view section, std::string_view name, const RegValue& value);
    std::string readProfileText(std::string_view section, std::string_view name, const std::string& fallback);
    bool writeProfileText(std::string_view section, std::string_view name, std::string_view text);
    int32_t readProfileInt(std::string_view section, std::string_view name, int32_t fallback);
    bool writeProfileInt(std::string_view section, std::string_view name, int32_t value);

    std::unique_ptr<RegistryStore> m_ownedUser;
    std::unique_ptr<RegistryStore> m_ownedMachine;
    RegistryStore& m_user;
    RegistryStore& m_machine;
    std::function<std::time_t()> m_now = [] {
        return std::time(nullptr);
    };
};
