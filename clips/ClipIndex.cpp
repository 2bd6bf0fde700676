#include "ClipIndex.h"

#include "ChannelTable.h"
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
    if (std::optional<uint32_t> count = container.subkeyCount())
        records.reserve(records.size() + *count);
    // Entries stream in one at a time, so texts are moved out of the values
    // rather than copied, in one pass over each entry's values.
    container.forEachSubkeyWithValues([&records](SubkeyValues& entry) {
        // A name that does not fit the name buffer cannot be enumerated.
        if (entry.name.size() >= kLoadBuffer)
            return;
        ClipRecord& record = records.emplace_back();
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
    entry.setDword("Open", read ? 1 : 0);
}
