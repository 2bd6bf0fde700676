#include "ClipIndex.h"

#include "ChannelTable.h"
#include "ClipCatalog.h"
#include "RegistryLayout.h"
#include "RegistryStore.h"

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
    if (m_worker.joinable())
        m_worker.join();
}

void ClipIndex::PrepareCatalog() {
    if (m_building || m_catalog)
        return;
    m_building = true;
    m_pending.clear();
    // Taken before the worker reads: a write by another process after this
    // point shows as a changed version, and the catalog is built again.
    m_catalogVersion = m_store.othersVersion();
    m_worker = std::thread([this, path = m_store.filePath()] {
        RegistryStore own(path);
        m_prepared = std::make_unique<ClipCatalog>(ClipCatalog::Build(own));
    });
}

void ClipIndex::TakePrepared() {
    if (!m_building)
        return;
    m_worker.join();
    m_building = false;
    m_catalog = std::move(m_prepared);
    // Replaying is safe whether or not the worker already saw these writes:
    // each sets an entry to what this object wrote.
    for (const auto& change : m_pending)
        if (m_catalog && !change(*m_catalog))
            m_catalog.reset(); // built again by Catalog()
    m_pending.clear();
}

const ClipCatalog& ClipIndex::Catalog() {
    TakePrepared();
    const uint64_t version = m_store.othersVersion();
    if (!m_catalog || version != m_catalogVersion) {
        m_catalog = std::make_unique<ClipCatalog>(ClipCatalog::Build(m_store));
        m_catalogVersion = version;
    }
    return *m_catalog;
}

void ClipIndex::Follow(std::function<bool(ClipCatalog&)> change) {
    if (m_building)
        m_pending.push_back(std::move(change));
    else if (m_catalog && !change(*m_catalog))
        m_catalog.reset(); // built again by Catalog()
}

bool ClipIndex::SaveClipRecord(ClipRecord& record) {
    record.Location = m_channels.GetChannelName(record.Channel);
    if (!IsEntryName(record.FileName))
        return false;
    WriteBatch batch(m_store);
    RegistryKey entry = m_store.createKey(EntryPath(kClipStore, record.FileName));
    if (!entry)
        return false;
    // An entry spelled otherwise is overwritten under its old key name; the
    // catalog cannot follow that by name.
    const bool sameSpelling = entry.name() == record.FileName;
    entry.setValue("FileName", StoreText(record.FileName));
    entry.setDword("Channel", uint32_t(record.Channel));
    entry.setValue("Location", StoreText(record.Location));
    entry.setDword("Open", uint32_t(record.Open));
    entry.setValue("SDate", StoreText(record.SDate));
    entry.setValue("STime", StoreText(record.STime));
    entry.setValue("EDate", StoreText(record.EDate));
    entry.setValue("ETime", StoreText(record.ETime));
    entry.setValue("ImageName", StoreText(record.ImageName));
    entry.setValue("Path", StoreText(record.Path));
    if (!batch.commit())
        return false;
    Follow([record, sameSpelling](ClipCatalog& catalog) { return sameSpelling && catalog.Save(record); });
    return true;
}

bool ClipIndex::DeleteClipRecord(const std::string& fileName) {
    if (!IsEntryName(fileName) || !m_store.deleteKey(EntryPath(kClipStore, fileName)))
        return false;
    Follow([fileName](ClipCatalog& catalog) { return catalog.Remove(fileName); });
    return true;
}

void ClipIndex::LoadClipRecords(std::vector<ClipRecord>& records) {
    if (RegistryKey container = m_store.openKey(kClipStore))
        if (std::optional<uint32_t> count = container.subkeyCount())
            records.reserve(records.size() + *count);
    ForEachClipRecord(m_store, [&records](ClipRecord& record) { records.push_back(std::move(record)); });
}

void ClipIndex::ForEachClipRecord(RegistryStore& store, const std::function<void(ClipRecord&)>& visit) {
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
                record.Channel = LoadDword(&value.value);
            } else if (strcasecmp(name, "Open") == 0) {
                record.Open = LoadDword(&value.value) != 0 ? 1 : 0;
            } else {
                for (const auto& [textName, field] : kTextValues)
                    if (strcasecmp(name, textName) == 0) {
                        record.*field = TakeText(value.value);
                        break;
                    }
            }
        }
        visit(record);
    });
}

void ClipIndex::MarkClipRead(const std::string& fileName, bool read) {
    if (!IsEntryName(fileName))
        return;
    RegistryKey container = m_store.openKey(kClipStore);
    RegistryKey entry = container.openSubkey(fileName);
    // The lookup ignores letter case; the clip name must match exactly.
    if (!entry || entry.name() != fileName)
        return;
    if (entry.setDword("Open", read ? 1 : 0))
        Follow([fileName, read](ClipCatalog& catalog) { return catalog.SetRead(fileName, read); });
}
