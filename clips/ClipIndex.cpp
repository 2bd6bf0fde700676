#include "ClipIndex.h"

#include "ChannelTable.h"
#include "RegistryLayout.h"
#include "RegistryStore.h"

using namespace RegistryLayout;

namespace {

RegValue StoreText(const std::string& text) {
    return RegValue::fromString(CText(text));
}

} // namespace

ClipIndex::ClipIndex(RegistryStore& userStore, const ChannelTable& channels)
    : m_store(userStore)
    , m_channels(channels) {}

bool ClipIndex::SaveClipRecord(ClipRecord& record) {
    record.Location = m_channels.GetChannelName(record.Channel);
    if (!IsEntryName(record.FileName))
        return false;
    WriteBatch batch(m_store);
    RegistryKey entry = m_store.createKey(EntryPath(kClipStore, record.FileName));
    if (!entry)
        return false;
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
    return batch.commit();
}

bool ClipIndex::DeleteClipRecord(const std::string& fileName) {
    return IsEntryName(fileName) && m_store.deleteKey(EntryPath(kClipStore, fileName));
}

void ClipIndex::LoadClipRecords(std::vector<ClipRecord>& records) {
    RegistryKey container = m_store.openKey(kClipStore);
    if (!container)
        return;
    for (const SubkeyValues& entry : container.subkeysWithValues()) {
        // A name that does not fit the name buffer cannot be enumerated.
        if (entry.name.size() >= kLoadBuffer)
            continue;
        ClipRecord record;
        record.FileName = LoadText(entry.find("FileName"));
        record.Location = LoadText(entry.find("Location"));
        record.SDate = LoadText(entry.find("SDate"));
        record.STime = LoadText(entry.find("STime"));
        record.EDate = LoadText(entry.find("EDate"));
        record.ETime = LoadText(entry.find("ETime"));
        record.ImageName = LoadText(entry.find("ImageName"));
        record.Path = LoadText(entry.find("Path"));
        record.Channel = LoadDword(entry.find("Channel"));
        record.Open = LoadDword(entry.find("Open")) != 0 ? 1 : 0;
        records.push_back(std::move(record));
    }
}

void ClipIndex::MarkClipRead(const std::string& fileName, bool read) {
    if (!IsEntryName(fileName))
        return;
    RegistryKey container = m_store.openKey(kClipStore);
    RegistryKey entry = container.openSubkey(fileName);
    // The lookup ignores letter case; the clip name must match exactly.
    if (!entry || entry.name() != fileName)
        return;
    entry.setDword("Open", read ? 1 : 0);
}
