#include "app/core/ChannelTable.h"

#include <algorithm>

void ChannelTable::replace(const std::vector<ChannelEntry>& entries) {
    m_rows.clear();
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(m_rows),
                 [](const ChannelEntry& e) { return e.channel > 0; });
}

std::string ChannelTable::GetChannelName(int32_t channel) const {
    auto it = std::find_if(m_rows.begin(), m_rows.end(),
                           [channel](const ChannelEntry& e) { return e.channel == channel; });
    return it == m_rows.end() ? std::string() : it->name;
}
