#pragma once

// The clip catalog: a compact in-memory view of the whole clip index, so the
// browser and the search answer at once however many clips there are.
//
// How it works: every entry's texts (file name, start, end, image name) live
// in an arena of fixed blocks, referenced by offset; folders are kept once
// each. Entries are grouped by channel label; each group keeps its entries
// sorted by file name, so the newest clip (the name starts with its stamp) is
// last and "newest first" is the group read backwards; a new recording is
// appended at the end. Each group counts its entries and read entries as they
// change. A name is found by a binary search in each group.
//
// The store stays the only source of truth: a catalog is built from it in one
// pass (Build, on any thread that owns the store object it is given), and the
// program's own writes are applied to it as they are made (Save, Remove,
// SetRead, the same rules as ClipIndex). Whoever keeps a catalog throws it
// away and builds it again when another process has written to the store.
// Space left by removed entries is reclaimed by that rebuild only.

#include "clips/core/ClipGroups.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipSearch.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class RegistryStore;

class ClipCatalog {
public:
    using Entry = uint32_t;

    struct Group {
        std::string label;
        int32_t channel = 0;
        std::vector<Entry> entries; // by file name, byte-wise ascending
        int read = 0;
    };

    ClipCatalog();
    ~ClipCatalog();
    ClipCatalog(ClipCatalog&&) noexcept;
    ClipCatalog& operator=(ClipCatalog&&) noexcept;

    // Every entry of the store's clip index (as ClipIndex loads them).
    static ClipCatalog build(RegistryStore& store);
    // The same, given up (nothing) as soon as `stop` is set by another thread.
    static std::optional<ClipCatalog> build(RegistryStore& store, const std::atomic<bool>& stop);

    // A saved record: replaces the entry of the same file name, wherever it
    // was, or adds one. False when the catalog is full (then nothing changed).
    bool save(const ClipRecord& record);
    bool remove(std::string_view fileName);
    bool setRead(std::string_view fileName, bool read);

    std::size_t size() const { return m_live; }
    // Groups in the order their labels first appeared; positions never change
    // (a group whose clips are all gone stays, empty).
    const std::vector<Group>& groups() const { return m_groups; }
    std::optional<std::size_t> findGroup(std::string_view label) const;
    ClipCounts counts(std::size_t group) const;

    // The `row`-th newest entry of `group` (row < the group's size).
    Entry newest(std::size_t group, std::size_t row) const;
    std::optional<Entry> find(std::string_view fileName) const;

    ClipRecord record(Entry entry) const;
    std::string_view fileName(Entry entry) const;
    bool isRead(Entry entry) const;
    // SDate followed by STime, as the search compares it.
    std::string_view start(Entry entry) const;

    // The matching entries of one group (or of all, group by group), newest
    // first within each group.
    struct Hit {
        std::size_t group;
        Entry entry;
    };
    std::vector<Hit> search(std::optional<std::size_t> group, const SearchFilter& filter) const;

private:
    static ClipCatalog build(RegistryStore& store, const std::atomic<bool>* stop);

    struct Text {
        uint32_t offset = 0;
        uint16_t size = 0;
    };
    struct Item {
        Text name, start, end, image; // start and end: date followed by time
        uint32_t path = 0;
        uint32_t group = 0;
        int32_t channel = 0;
        uint16_t startDate = 0; // length of the date within start
        uint16_t endDate = 0;
        bool open = false;
        bool live = false;
    };

    std::optional<Text> store(std::string_view text);
    std::string_view text(Text t) const;
    std::size_t groupOf(int32_t channel, const std::string& location);
    std::optional<Entry> add(const ClipRecord& record);
    // Position of `fileName` within the sorted group, or where it would go.
    std::vector<Entry>::const_iterator lowerBound(const Group& group, std::string_view fileName) const;
    void sortGroups();

    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_blockUsed = 0;
    std::vector<Item> m_items;
    std::vector<std::string> m_paths;
    std::unordered_map<std::string, uint32_t> m_pathIds;
    std::vector<Group> m_groups;
    std::unordered_map<std::string, std::size_t> m_groupIds;
    std::size_t m_live = 0;
};
