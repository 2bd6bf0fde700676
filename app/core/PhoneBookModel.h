#pragma once

// What the phone book dialog shows and keeps, without widgets: the rows of its
// list and its copy of the stored entries.
//
// How it works: rows are kept sorted by name, ignoring the case of ASCII
// letters, and a row is found by its name the same way, as the store finds an
// entry's key; so two names that differ only in case share one row, whose text
// keeps the first spelling. The entries list is searched by exact name and gains an entry for
// each new spelling, but its password, number and note are kept equal for all
// spellings of a name, because the store keeps only one set of them. A row's
// password is looked up in the entries list; the list never shows it.

#include "app/core/AppStore.h"

#include <optional>
#include <string>
#include <vector>

class PhoneBookModel {
public:
    struct Row {
        std::string name;
        std::string dial;
        std::string memo;
    };

    // Where an upsert put its row.
    struct RowChange {
        int index;
        bool inserted;
    };

    PhoneBookModel() = default;
    // Takes the stored entries in the store's order and adds a row for each.
    explicit PhoneBookModel(std::vector<PhoneEntry> entries);

    const std::vector<Row>& rows() const { return m_rows; }
    const std::vector<PhoneEntry>& entries() const { return m_entries; }

    // The row whose name equals `name` ignoring case, or -1.
    int findRow(const std::string& name) const;

    // Adds a row for the entry at its sorted place, or updates the number and
    // note of the row that already has its name.
    RowChange upsertRow(const PhoneEntry& entry);
    // Updates the entry of exactly that name or appends one, then gives every
    // spelling of the name the entry's password, number and note.
    void upsertEntry(const PhoneEntry& entry);

    // Removes the row at `index` and every entry of that name in any case, as
    // the store's deletion removes the one key of all spellings.
    void removeRow(int index);

    // The password of the entry of exactly that name.
    std::optional<std::string> passwordOf(const std::string& name) const;

    // Sort order of the rows: case-blind, then byte order.
    static int compareNames(const std::string& a, const std::string& b);
    static bool sameName(const std::string& a, const std::string& b);

private:
    std::vector<Row> m_rows;
    std::vector<PhoneEntry> m_entries;
};
