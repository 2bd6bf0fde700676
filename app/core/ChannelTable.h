#pragma once

// The application's channel table: the remote site's channel numbers and names
// as its last channel list gave them. Every channel list replaces the table
// whole; rows keep the list's order, and only channels numbered above 0 are
// kept. Lookups take the first row with a matching number.

#include <cstdint>
#include <string>
#include <vector>

struct ChannelEntry {
    // A channel list record is 36 bytes: the number, then a 32-byte name field.
    static constexpr size_t kRecordSize = 36;
    static constexpr size_t kNameField = 32;

    int32_t channel = 0;
    std::string name; // the text of the name field up to its NUL, at most 32 bytes
};

class ChannelTable {
public:
    // Empties the table, then appends every entry numbered above 0, in order.
    void replace(const std::vector<ChannelEntry>& entries);
    // The name of the first row numbered `channel`; empty when there is none.
    std::string GetChannelName(int32_t channel) const;

    const std::vector<ChannelEntry>& rows() const { return m_rows; }
    bool empty() const { return m_rows.empty(); }

private:
    std::vector<ChannelEntry> m_rows;
};
