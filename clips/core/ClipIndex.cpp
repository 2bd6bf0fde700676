#include "clips/core/ClipIndex.h"

#include "app/core/ChannelTable.h"
#include "app/core/RegistryLayout.h"
#include "clips/core/ClipCatalog.h"
#include "platform/registry/RegistryStore.h"

#include <strings.h>
#include <utility>

using namespace RegistryLayout;

namespace {

// The text values of an entry and the fields they load into.
const std::pair<const char*, std::string ClipRecord::*> kTextValues[] = {
    {"FileName", &ClipRecord::FileName},   {"Location", &ClipRecord::Location}, {"SDate", &ClipRecord::SDate},
    {"STime", &ClipRecord::STime},         {"EDate", &ClipRecord::EDate},       {"ETime", &ClipRecord::ETime},
    {"ImageName", &ClipRecord::ImageName}, {"Path", &ClipRecord::Path},
};

} // namespace

ClipIndex::ClipIndex(RegistryStore& userStore, const ChannelTable& channels)
    : m_store(userStore)
    , m_channels(channels) {}

ClipIndex::~ClipIndex() {
    // A build under way is given up rather than waited for.
    m_stop.store(true);
    if (m_worker.joinable())
        m_worker.join();
}

const std::string& ClipIndex::storeFilePath() const {
    return m_store.filePath();
}

void ClipIndex::prepareCatalog() {
    if (m_building || m_catalog)
        return;
    startBuild();
}

void ClipIndex::startBuild() {
    if (m_worker.joinable()) // a finished build already taken
        m_worker.join();
    m_building = true;
    m_built.store(false);
    m_pending.clear();
    // Taken before the worker reads: a write by another process after this
    // point shows as a changed version, and the catalog is built again.
    m_buildVersion = m_store.othersVersion();
    m_worker = std::thread([this, path = m_store.filePath(), hook = m_buildHook] {
        if (hook)
            hook();
        RegistryStore own(path);
        std::optional<ClipCatalog> built = ClipCatalog::build(own, m_stop);
        if (!built)
            return; // this index is going away
        m_prepared = std::make_unique<ClipCatalog>(std::move(*built));
        Post post;
        {
            const std::lock_guard lock(m_postLock);
            m_built.store(true, std::memory_order_release);
            post = m_post;
        }
        if (post)
            postArrival(post);
    });
}

void ClipIndex::setPost(Post post) {
    bool endedUnposted = false;
    {
        const std::lock_guard lock(m_postLock);
        endedUnposted = !m_post && post && m_building && m_built.load();
        m_post = std::move(post);
    }
    if (endedUnposted)
        postArrival(m_post);
}

void ClipIndex::postArrival(const Post& post) {
    // The posted call runs on this object's thread, which is also where it
    // is destroyed, so `alive` cannot expire while it runs.
    post([this, alive = std::weak_ptr<int>(m_alive)] {
        if (alive.lock())
            catalogArrived();
    });
}

bool ClipIndex::takeBuilt() {
    if (!m_building || !m_built.load(std::memory_order_acquire))
        return false;
    if (m_worker.joinable())
        m_worker.join(); // done already: only the thread's last steps remain
    m_building = false;
    m_catalog = std::move(m_prepared);
    m_catalogVersion = m_buildVersion;
    // Replaying is safe whether or not the worker already saw these writes:
    // each sets an entry to what this object wrote.
    for (const auto& change : m_pending)
        if (m_catalog && !change(*m_catalog))
            m_catalog.reset(); // built again when next asked for
    m_pending.clear();
    return true;
}

void ClipIndex::catalogArrived() {
    if (takeBuilt())
        notifyListeners();
}

void ClipIndex::notifyListeners() {
    // A listener may remove itself (or others) while being told.
    const auto listeners = m_listeners;
    for (const auto& [id, listener] : listeners)
        if (m_listeners.count(id))
            listener();
}

const ClipCatalog* ClipIndex::currentCatalog() {
    // With a post, the catalog changes only in catalogArrived, where the
    // listeners learn of it; a caller holding positions in it between two
    // calls is never surprised by a swap.
    if (!m_post)
        takeBuilt();
    if (!m_building && (!m_catalog || m_store.othersVersion() != m_catalogVersion))
        startBuild();
    return m_catalog.get();
}

const ClipCatalog& ClipIndex::catalogNow() {
    bool replaced = false;
    if (m_building) {
        m_worker.join();
        replaced = takeBuilt();
    }
    const uint64_t version = m_store.othersVersion();
    if (!m_catalog || version != m_catalogVersion) {
        if (m_buildHook)
            m_buildHook();
        m_catalog = std::make_unique<ClipCatalog>(ClipCatalog::build(m_store));
        m_catalogVersion = version;
        replaced = true;
    }
    if (replaced)
        notifyListeners();
    return *m_catalog;
}

int ClipIndex::addCatalogListener(std::function<void()> listener) {
    m_listeners.emplace(m_nextListener, std::move(listener));
    return m_nextListener++;
}

void ClipIndex::removeCatalogListener(int id) {
    m_listeners.erase(id);
}

void ClipIndex::follow(std::function<bool(ClipCatalog&)> change) {
    if (m_building)
        m_pending.push_back(change);
    if (m_catalog && !change(*m_catalog))
        m_catalog.reset(); // built again when next asked for
}

bool ClipIndex::SaveClipRecord(ClipRecord& record) {
    record.Location = m_channels.GetChannelName(record.Channel);
    if (!isEntryName(record.FileName))
        return false;
    WriteBatch batch(m_store);
    RegistryKey entry = m_store.createKey(entryPath(kClipStore, record.FileName));
    if (!entry)
        return false;
    // An entry spelled otherwise is overwritten under its old key name; the
    // catalog cannot follow that by name.
    const bool sameSpelling = entry.name() == record.FileName;
    entry.setValue("FileName", storeText(record.FileName));
    entry.setDword("Channel", uint32_t(record.Channel));
    entry.setValue("Location", storeText(record.Location));
    entry.setDword("Open", uint32_t(record.Open));
    entry.setValue("SDate", storeText(record.SDate));
    entry.setValue("STime", storeText(record.STime));
    entry.setValue("EDate", storeText(record.EDate));
    entry.setValue("ETime", storeText(record.ETime));
    entry.setValue("ImageName", storeText(record.ImageName));
    entry.setValue("Path", storeText(record.Path));
    if (!batch.commit())
        return false;
    follow([record, sameSpelling](ClipCatalog& catalog) { return sameSpelling && catalog.save(record); });
    return true;
}

bool ClipIndex::DeleteClipRecord(const std::string& fileName) {
    if (!isEntryName(fileName) || !m_store.deleteKey(entryPath(kClipStore, fileName)))
        return false;
    follow([fileName](ClipCatalog& catalog) { return catalog.remove(fileName); });
    return true;
}

void ClipIndex::LoadClipRecords(std::vector<ClipRecord>& records) {
    if (RegistryKey container = m_store.openKey(kClipStore))
        if (std::optional<uint32_t> count = container.subkeyCount())
            records.reserve(records.size() + *count);
    forEachClipRecord(m_store, [&records](ClipRecord& record) { records.push_back(std::move(record)); });
}

void ClipIndex::forEachClipRecord(RegistryStore& store, const std::function<void(ClipRecord&)>& visit) {
    RegistryKey container = store.openKey(kClipStore);
    if (!container)
        return;
    // Entries stream in one at a time, so texts are moved out of the values
    // rather than copied, in one pass over each entry's values.
    ClipRecord record;
    container.forEachSubkeyWithValues([&record, &visit](SubkeyValues& entry) {
        // A name that does not fit the name buffer cannot be enumerated.
        if (entry.name.size() >= kLoadBuffer)
            return;
        record = ClipRecord{};
        for (NamedValue& value : entry.values) {
            const char* name = value.name.c_str();
            if (strcasecmp(name, "Channel") == 0) {
                record.Channel = loadDword(&value.value);
            } else if (strcasecmp(name, "Open") == 0) {
                record.Open = loadDword(&value.value) != 0 ? 1 : 0;
            } else {
                for (const auto& [textName, field] : kTextValues)
                    if (strcasecmp(name, textName) == 0) {
                        record.*field = takeText(value.value);
                        break;
                    }
            }
        }
        visit(record);
    });
}

void ClipIndex::MarkClipRead(const std::string& fileName, bool read) {
    if (!isEntryName(fileName))
        return;
    RegistryKey container = m_store.openKey(kClipStore);
    RegistryKey entry = container.openSubkey(fileName);
    // The lookup ignores letter case; the clip name must match exactly.
    if (!entry || entry.name() != fileName)
        return;
    if (entry.setDword("Open", read ? 1 : 0))
        follow([fileName, read](ClipCatalog& catalog) { return catalog.setRead(fileName, read); });
}
