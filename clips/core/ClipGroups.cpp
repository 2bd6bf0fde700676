#include "clips/core/ClipGroups.h"

#include "clips/core/ClipNames.h"

#include <algorithm>
#include <cstdio>

std::string formatCount(int count) {
    char text[24];
    std::snprintf(text, sizeof text, "%6d", count);
    return text;
}

bool ClipGroupList::add(ClipRecord record) {
    std::string label = clipChannelLabel(record.Channel, record.Location);
    const auto [it, created] = m_byLabel.try_emplace(label, m_groups.size());
    if (created)
        m_groups.push_back({std::move(label), {}});
    m_groups[it->second].records.push_back(std::move(record));
    return created;
}

ClipGroup* ClipGroupList::find(std::string_view label) {
    const auto it = m_byLabel.find(std::string(label));
    return it == m_byLabel.end() ? nullptr : &m_groups[it->second];
}

ClipRecord* ClipGroupList::findRecord(std::string_view label, std::string_view fileName) {
    ClipGroup* group = find(label);
    if (!group)
        return nullptr;
    const auto it = std::find_if(group->records.begin(), group->records.end(),
                                 [&](const ClipRecord& r) { return r.FileName == fileName; });
    return it == group->records.end() ? nullptr : &*it;
}

int ClipGroupList::removeRecords(std::string_view label, const std::unordered_set<std::string>& fileNames) {
    ClipGroup* group = find(label);
    if (!group)
        return 0;
    int read = 0;
    std::erase_if(group->records, [&](const ClipRecord& r) {
        if (!fileNames.contains(r.FileName))
            return false;
        read += r.Open == 1;
        return true;
    });
    return read;
}

void ClipGroupList::clear(std::string_view label) {
    if (ClipGroup* group = find(label))
        group->records.clear();
}
