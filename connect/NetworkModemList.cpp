#include "connect/NetworkModemList.h"

#include "app/core/AppStore.h"
#include "platform/telephony/NetworkPort.h"

#include <algorithm>
#include <cctype>

namespace {

bool hostNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool ipv6Char(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<std::string> NetworkModemList::canonical(std::string_view typed) {
    typed = trimmed(typed);
    const std::size_t scheme = typed.find("://");
    if (scheme == std::string_view::npos || typed.size() > 300)
        return std::nullopt;
    std::string text(typed);
    std::transform(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(scheme), text.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    const std::optional<NetworkEndpoint> endpoint = parseNetworkEndpoint(text);
    if (!endpoint)
        return std::nullopt;
    const bool v6 = endpoint->host.find(':') != std::string::npos;
    if (!std::all_of(endpoint->host.begin(), endpoint->host.end(), v6 ? ipv6Char : hostNameChar))
        return std::nullopt;
    const char* name = endpoint->kind == NetworkEndpoint::Kind::RawTcp ? "tcp://" : "rfc2217://";
    return name + (v6 ? "[" + endpoint->host + "]" : endpoint->host) + ":" + std::to_string(endpoint->port);
}

NetworkModemList NetworkModemList::fromText(std::string_view stored) {
    NetworkModemList list;
    for (const std::string& entry : splitModemList(stored)) {
        if (list.m_entries.size() >= kMaxEntries)
            break;
        list.add(entry);
    }
    return list;
}

std::string NetworkModemList::toText() const {
    std::string text;
    for (const std::string& entry : m_entries)
        text += (text.empty() ? "" : ", ") + entry;
    return text;
}

NetworkModemList NetworkModemList::load(AppStore& store) {
    return fromText(store.profileText(kSection, kValueName, {}));
}

bool NetworkModemList::save(AppStore& store) const {
    return store.setProfileText(kSection, kValueName, toText());
}

NetworkModemList::AddResult NetworkModemList::add(std::string_view typed) {
    const std::optional<std::string> entry = canonical(typed);
    if (!entry)
        return AddResult::Invalid;
    if (std::find(m_entries.begin(), m_entries.end(), *entry) != m_entries.end())
        return AddResult::Listed;
    if (m_entries.size() >= kMaxEntries)
        return AddResult::Full;
    m_entries.push_back(*entry);
    return AddResult::Added;
}

bool NetworkModemList::remove(std::size_t index) {
    if (index >= m_entries.size())
        return false;
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}
