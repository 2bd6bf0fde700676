#pragma once

// The clips browser's model: clip records grouped by channel label ("%04d",
// a space, the channel name), groups in order of first appearance of their
// label, records of a group in load order. The search dialog works on the
// same groups, so a clip marked read there is marked in the browser too.
//
// How it works: a hash map from label to group position makes building the
// groups linear in the number of records; labels are compared byte for byte.
// Groups are never removed (a node whose clips were all deleted stays, empty).

#include "clips/core/ClipIndex.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct ClipGroup {
    std::string label;
    std::vector<ClipRecord> records;
};

// Total and read counts of a list of clips; unread is the difference.
struct ClipCounts {
    int total = 0;
    int read = 0;
    int unread() const { return total - read; }
};

// A count as the count labels show it: "%6d".
std::string formatCount(int count);

class ClipGroupList {
public:
    // Appends the record to the group with its label, creating the group at
    // the end when the label is new. True when a group was created.
    bool add(ClipRecord record);

    std::vector<ClipGroup>& groups() { return m_groups; }
    const std::vector<ClipGroup>& groups() const { return m_groups; }
    // The group with exactly this label; nothing when there is none.
    ClipGroup* find(std::string_view label);
    // The record named `fileName` in the group labelled `label`.
    ClipRecord* findRecord(std::string_view label, std::string_view fileName);
    // Removes the records with these names from the group; returns how many
    // of the removed records were read.
    int removeRecords(std::string_view label, const std::unordered_set<std::string>& fileNames);
    // Removes every record of the group (the group stays).
    void clear(std::string_view label);

private:
    std::vector<ClipGroup> m_groups;
    std::unordered_map<std::string, size_t> m_byLabel;
};
