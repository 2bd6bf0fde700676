#pragma once

// The operator's network modems: modems behind serial device servers that
// "Select modem" adds and removes, listed after every other device.
//
// How it works: an entry is typed as "tcp://HOST:PORT" or
// "rfc2217://HOST:PORT" and kept in one canonical spelling (scheme in lower
// case, no trailing "/", an IPv6 host in brackets). Host names hold only
// letters, digits, '-', '.' and '_', so an entry never holds a blank or a ','
// and the list is stored as one text value, the entries joined by ", ": the
// profile's "Setting" section, value "NetworkModems". Reading it back splits
// it like DIALSCOPE_MODEMS and drops what is not a valid entry, repeats and
// whatever lies beyond kMaxEntries, since the store is not trusted.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class AppStore;

class NetworkModemList {
public:
    static constexpr std::string_view kSection = "Setting";
    static constexpr std::string_view kValueName = "NetworkModems";
    static constexpr std::size_t kMaxEntries = 32;

    enum class AddResult { Added, Invalid, Listed, Full };

    // The canonical spelling of a typed entry (blanks around it ignored), or
    // nullopt when it is not a network modem address.
    static std::optional<std::string> canonical(std::string_view typed);

    static NetworkModemList fromText(std::string_view stored);
    std::string toText() const;
    static NetworkModemList load(AppStore& store);
    bool save(AppStore& store) const;

    AddResult add(std::string_view typed);
    // False when `index` is out of range.
    bool remove(std::size_t index);

    const std::vector<std::string>& entries() const { return m_entries; }
    bool operator==(const NetworkModemList& other) const = default;

private:
    std::vector<std::string> m_entries;
};
