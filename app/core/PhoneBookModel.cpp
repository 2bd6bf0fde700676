#include "app/core/PhoneBookModel.h"

#include <algorithm>

namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Compares ignoring the case of ASCII letters, as the store compares key names.
int compareBlind(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(asciiLower(a[i]));
        const auto y = static_cast<unsigned char>(asciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

PhoneBookModel::PhoneBookModel(std::vector<PhoneEntry> entries)
    : m_entries(std::move(entries)) {
    for (const PhoneEntry& entry : m_entries)
        upsertRow(entry);
}

int PhoneBookModel::compareNames(const std::string& a, const std::string& b) {
    int blind = compareBlind(a, b);
    return blind != 0 ? blind : a.compare(b);
}

bool PhoneBookModel::sameName(const std::string& a, const std::string& b) {
    return compareBlind(a, b) == 0;
}

int PhoneBookModel::findRow(const std::string& name) const {
    auto it =
        std::find_if(m_rows.begin(), m_rows.end(), [&](const Row& row) { return sameName(row.name, name); });
    return it == m_rows.end() ? -1 : int(it - m_rows.begin());
}

PhoneBookModel::RowChange PhoneBookModel::upsertRow(const PhoneEntry& entry) {
    int index = findRow(entry.Name);
    bool inserted = index < 0;
    if (inserted) {
        auto at = std::upper_bound(
            m_rows.begin(), m_rows.end(), entry.Name,
            [](const std::string& name, const Row& row) { return compareNames(name, row.name) < 0; });
        index = int(at - m_rows.begin());
        m_rows.insert(at, Row{entry.Name, {}, {}});
    }
    m_rows[size_t(index)].dial = entry.Dial;
    m_rows[size_t(index)].memo = entry.Memo;
    return {index, inserted};
}

void PhoneBookModel::upsertEntry(const PhoneEntry& entry) {
    auto exact = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const PhoneEntry& e) { return e.Name == entry.Name; });
    if (exact == m_entries.end())
        m_entries.push_back(entry);
    for (PhoneEntry& e : m_entries) {
        if (sameName(e.Name, entry.Name)) {
            e.PassWord = entry.PassWord;
            e.Dial = entry.Dial;
            e.Memo = entry.Memo;
        }
    }
}

void PhoneBookModel::removeRow(int index) {
    if (index < 0 || size_t(index) >= m_rows.size())
        return;
    std::string name = m_rows[size_t(index)].name;
    m_rows.erase(m_rows.begin() + index);
    std::erase_if(m_entries, [&](const PhoneEntry& e) { return sameName(e.Name, name); });
}

std::optional<std::string> PhoneBookModel::passwordOf(const std::string& name) const {
    auto it =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const PhoneEntry& e) { return e.Name == name; });
    if (it == m_entries.end())
        return std::nullopt;
    return it->PassWord;
}
