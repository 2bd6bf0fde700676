#include "app/core/AppStore.h"

#include "app/core/AutostartEntry.h"
#include "app/core/RecordVolume.h"
#include "app/core/RegistryLayout.h"
#include "platform/registry/RegistryStore.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace RegistryLayout;

namespace {

constexpr std::string_view kSetting = "Setting";
constexpr std::string_view kKey = "Key";
constexpr std::string_view kCall = "Call";

const char* settingName(int id) {
    switch (id) {
    case AppStore::kVideoArrange:
        return "VideoArrange";
    case AppStore::kLimitDiskSpace:
        return "LimitDiskSpace";
    case AppStore::kCheckTimer:
        return "CheckTimer";
    case AppStore::kModem:
        return "Modem";
    case AppStore::kMonitor:
        return "Monitor";
    case AppStore::kAutoRun:
        return "AutoRun";
    case AppStore::kCallPanel:
        return "CallPanel";
    default:
        return nullptr;
    }
}

std::string currentDirectory() {
    std::unique_ptr<char, void (*)(void*)> cwd(getcwd(nullptr, 0), std::free);
    return cwd ? std::string(cwd.get()) : std::string();
}

// The same test as making the folder the current directory, without doing it.
bool isReachableFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string runningProgramPath() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || size_t(n) >= path.size())
        return {};
    path.resize(size_t(n));
    return path;
}

std::string eventId(std::time_t when) {
    std::tm local{};
    char id[32] = {};
    if (!localtime_r(&when, &local) || std::strftime(id, sizeof id, "%Y%m%d%H%M%S", &local) == 0)
        return {};
    return id;
}

} // namespace

std::string EventRecord::text(Field field) const {
    std::string_view bytes(block.data() + field.offset, field.size);
    return std::string(cText(bytes));
}

void EventRecord::setText(EventBlock& block, Field field, std::string_view text) {
    text = cText(text).substr(0, field.size - 1);
    char* place = block.data() + field.offset;
    std::fill(place, place + field.size, '\0');
    std::copy(text.begin(), text.end(), place);
}

EventBlock EventRecord::makeBlock(std::string_view name, std::string_view tel, std::string_view address,
                                  std::string_view memo) {
    EventBlock block{};
    setText(block, kName, name);
    setText(block, kTel, tel);
    setText(block, kAddress, address);
    setText(block, kMemo, memo);
    return block;
}

AppStore::AppStore(RegistryStore& userStore, RegistryStore& machineStore)
    : m_user(userStore)
    , m_machine(machineStore) {}

AppStore::AppStore()
    : m_ownedUser(std::make_unique<RegistryStore>(RegistryStore::defaultPath(RegistryRoot::CurrentUser)))
    , m_ownedMachine(std::make_unique<RegistryStore>(RegistryStore::defaultPath(RegistryRoot::LocalMachine)))
    , m_user(*m_ownedUser)
    , m_machine(*m_ownedMachine) {}

AppStore::~AppStore() = default;

// ---- profile access

std::optional<RegValue> AppStore::readProfile(std::string_view section, std::string_view name) {
    // Opened without the write lock, so a read never waits for another
    // process's transaction; the chain is only created when it is missing.
    // A store we may read but not change still gives its settings.
    std::string path = entryPath(kProfileKey, section);
    RegistryKey key = m_user.openKey(path);
    if (!key)
        key = m_user.createKey(path);
    return key.queryValue(name);
}

bool AppStore::writeProfile(std::string_view section, std::string_view name, const RegValue& value) {
    RegistryKey key = m_user.createKey(entryPath(kProfileKey, section));
    return key.setValue(name, value);
}

std::string AppStore::readProfileText(std::string_view section, std::string_view name,
                                      const std::string& fallback) {
    std::optional<RegValue> value = readProfile(section, name);
    if (!value || (value->type != RegType::String && value->type != RegType::ExpandString))
        return fallback;
    return std::string(cText(value->data));
}

bool AppStore::writeProfileText(std::string_view section, std::string_view name, std::string_view text) {
    // Profile texts keep their terminating zero in the store.
    std::string bytes(cText(text));
    bytes += '\0';
    return writeProfile(section, name, RegValue::fromString(bytes));
}

int32_t AppStore::readProfileInt(std::string_view section, std::string_view name, int32_t fallback) {
    std::optional<RegValue> value = readProfile(section, name);
    if (!value || value->type != RegType::Dword)
        return fallback;
    return int32_t(value->dword().value_or(uint32_t(fallback)));
}

bool AppStore::writeProfileInt(std::string_view section, std::string_view name, int32_t value) {
    return writeProfile(section, name, RegValue::fromDword(uint32_t(value)));
}

// ---- "Setting"

int32_t AppStore::GetSetting(int id) {
    const char* name = settingName(id);
    return name ? readProfileInt(kSetting, name, -1) : -1;
}

bool AppStore::SetSetting(int id, int32_t value) {
    const char* name = settingName(id);
    return name && writeProfileInt(kSetting, name, value);
}

bool AppStore::videoArrange() {
    return GetSetting(kVideoArrange) != 0;
}

uint32_t AppStore::limitDiskSpace() {
    uint32_t megabytes = uint32_t(GetSetting(kLimitDiskSpace));
    return megabytes == 0 || megabytes > 9999 ? 50 : megabytes;
}

uint32_t AppStore::checkTimer() {
    uint32_t seconds = uint32_t(GetSetting(kCheckTimer));
    return seconds == 0 || seconds > 300 ? 10 : seconds;
}

int32_t AppStore::modem() {
    return GetSetting(kModem);
}

bool AppStore::autoRun() {
    return GetSetting(kAutoRun) == 1;
}

std::string AppStore::className() {
    return readProfileText(kSetting, "Class Name", {});
}

bool AppStore::setClassName(const std::string& name) {
    return writeProfileText(kSetting, "Class Name", name);
}

// ---- "Key"

std::string AppStore::GetAppUser() {
    return readProfileText(kKey, "User", {});
}

std::string AppStore::GetAppPassword() {
    return readProfileText(kKey, "PassWord", {});
}

bool AppStore::SaveAppPassword(const std::string& user, const std::string& password) {
    // Half a pair would lock the operator out at the next start.
    WriteBatch batch(m_user);
    bool ok = writeProfileText(kKey, "User", user);
    ok = writeProfileText(kKey, "PassWord", password) && ok;
    return ok && batch.commit();
}

bool AppStore::CheckAppPassword(const std::string& user, const std::string& password) {
    if (GetAppUser() != cText(user))
        return false;
    return GetAppPassword() == cText(password);
}

std::string AppStore::GetRecordPath() {
    return resolveRecordPath(storedRecordPath());
}

std::string AppStore::storedRecordPath() {
    return readProfileText(kKey, "RECPath", {});
}

std::string AppStore::resolveRecordPath(const std::string& stored) {
    std::string path = stored;
    if (!isReachableFolder(path))
        path = currentDirectory();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

bool AppStore::SetRecordPath(const std::string& path) {
    // Clips recorded into a longer folder could be neither played nor deleted.
    if (!fitsRecordFolder(path))
        return false;
    return writeProfileText(kKey, "RECPath", path);
}

std::string AppStore::GetRecordDrive() {
    return RecordVolume::mountPointOf(GetRecordPath());
}

uint32_t AppStore::GetRecordFreeMB() {
    return RecordVolume::freeMegabytes(GetRecordPath());
}

void AppStore::SetAutoRun(bool on) {
    if (RegistryKey run = m_machine.createKey(kRunKey)) {
        if (on) {
            if (std::string program = runningProgramPath(); !program.empty())
                run.setString(kRunValue, program);
        } else {
            run.deleteValue(kRunValue);
        }
    }
    // The machine-wide Run key starts nothing on a Linux desktop; the user's
    // autostart entry does.
    AutostartEntry entry = AutostartEntry::forCurrentUser();
    if (on)
        entry.install(runningProgramPath());
    else
        entry.remove();
    SetSetting(kAutoRun, on ? 1 : 0);
}

// ---- "Call"

CallSettings AppStore::callSettings() {
    CallSettings settings;
    settings.save = readProfileInt(kCall, "Save", 0);
    settings.user = readProfileText(kCall, "User", {});
    settings.dial = readProfileText(kCall, "Dial", {});
    settings.formatSize = readProfileInt(kCall, "FormatSize", 1);
    settings.quality = readProfileInt(kCall, "Quality", 30);
    if (settings.quality < 0 || settings.quality > 100)
        settings.quality = 30;
    settings.password = readProfileText(kCall, "PassWord", {});
    return settings;
}

bool AppStore::saveCallSettings(const CallSettings& settings) {
    WriteBatch batch(m_user);
    bool ok = writeProfileText(kCall, "User", settings.user);
    ok = writeProfileText(kCall, "Dial", settings.dial) && ok;
    ok = writeProfileText(kCall, "PassWord", settings.password) && ok;
    ok = writeProfileInt(kCall, "FormatSize", settings.formatSize) && ok;
    ok = writeProfileInt(kCall, "Quality", settings.quality) && ok;
    ok = writeProfileInt(kCall, "Save", settings.save) && ok;
    return ok && batch.commit();
}

// ---- phone book

void AppStore::LoadPhoneBook(std::vector<PhoneEntry>& list) {
    RegistryKey store = m_user.openKey(kPhoneStore);
    if (!store)
        return;
    for (const SubkeyValues& entry : store.subkeysWithValues()) {
        if (entry.name.size() >= kLoadBuffer)
            continue;
        list.push_back({loadText(entry.find("Name")), loadText(entry.find("PassWord")),
                        loadText(entry.find("Dial")), loadText(entry.find("Memo"))});
    }
}

bool AppStore::SavePhoneEntry(const PhoneEntry& entry) {
    if (!isEntryName(entry.Name))
        return false;
    WriteBatch batch(m_user);
    RegistryKey key = m_user.createKey(entryPath(kPhoneStore, entry.Name));
    if (!key)
        return false;
    key.setValue("Name", storeText(entry.Name));
    key.setValue("PassWord", storeText(entry.PassWord));
    key.setValue("Dial", storeText(entry.Dial));
    key.setValue("Memo", storeText(entry.Memo));
    return batch.commit();
}

bool AppStore::DeletePhoneEntry(const std::string& name) {
    return isEntryName(name) && m_user.deleteKey(entryPath(kPhoneStore, name));
}

// ---- event records

bool AppStore::AddEventRecord(const EventBlock& block) {
    std::string id = eventId(m_now());
    if (!isEntryName(id))
        return false;
    WriteBatch batch(m_user);
    RegistryKey key = m_user.createKey(entryPath(kEventStore, id));
    if (!key)
        return false;
    auto field = [&block](EventRecord::Field f) {
        return RegValue::fromString(std::string_view(block.data() + f.offset, f.size));
    };
    key.setString("ID", id);
    key.setValue("Name", field(EventRecord::kName));
    key.setValue("Tel", field(EventRecord::kTel));
    key.setValue("Address", field(EventRecord::kAddress));
    key.setValue("Memo", field(EventRecord::kMemo));
    return batch.commit();
}

void AppStore::LoadEventRecords(std::vector<EventRecord>& list) {
    RegistryKey store = m_user.openKey(kEventStore);
    if (!store)
        return;
    for (const SubkeyValues& entry : store.subkeysWithValues()) {
        if (entry.name.size() >= kLoadBuffer)
            continue;
        EventRecord record;
        record.ID = entry.name;
        EventRecord::setText(record.block, EventRecord::kName, loadText(entry.find("Name")));
        EventRecord::setText(record.block, EventRecord::kTel, loadText(entry.find("Tel")));
        EventRecord::setText(record.block, EventRecord::kAddress, loadText(entry.find("Address")));
        EventRecord::setText(record.block, EventRecord::kMemo, loadText(entry.find("Memo")));
        list.push_back(std::move(record));
    }
}

bool AppStore::DeleteEventRecord(const std::string& id) {
    return isEntryName(id) && m_user.deleteKey(entryPath(kEventStore, id));
}
