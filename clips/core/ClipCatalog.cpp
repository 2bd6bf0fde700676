#include "clips/core/ClipCatalog.h"

#include "clips/core/ClipNames.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBlockSize = std::size_t(1) << 20;
// Offsets are 32-bit: 4,096 blocks of 1 MiB.
constexpr std::size_t kMaxBlocks = std::size_t(1) << 12;
// Texts of an entry are cut to fit a 260-byte buffer when loaded; the same
// bound keeps every text well inside one block.
constexpr std::size_t kMaxText = 259;

} // namespace

ClipCatalog::ClipCatalog() = default;
ClipCatalog::~ClipCatalog() = default;
ClipCatalog::ClipCatalog(ClipCatalog&&) noexcept = default;
ClipCatalog& ClipCatalog::operator=(ClipCatalog&&) noexcept = default;

std::optional<ClipCatalog::Text> ClipCatalog::store(std::string_view text) {
    text = text.substr(0, kMaxText);
    if (m_blocks.empty() || m_blockUsed + text.size() > kBlockSize) {
        if (m_blocks.size() >= kMaxBlocks)
            return std::nullopt;
        m_blocks.push_back(std::make_unique<char[]>(kBlockSize));
        m_blockUsed = 0;
    }
    Text t{uint32_t((m_blocks.size() - 1) * kBlockSize + m_blockUsed), uint16_t(text.size())};
    if (!text.empty())
        std::memcpy(m_blocks.back().get() + m_blockUsed, text.data(), text.size());
    m_blockUsed += text.size();
    return t;
}

std::string_view ClipCatalog::text(Text t) const {
    return {m_blocks[t.offset / kBlockSize].get() + t.offset % kBlockSize, t.size};
}

std::size_t ClipCatalog::groupOf(int32_t channel, const std::string& location) {
    std::string label = clipChannelLabel(channel, location);
    const auto [it, created] = m_groupIds.try_emplace(label, m_groups.size());
    if (created)
        m_groups.push_back({std::move(label), channel, {}, 0});
    return it->second;
}

std::optional<ClipCatalog::Entry> ClipCatalog::add(const ClipRecord& r) {
    if (m_items.size() >= UINT32_MAX)
        return std::nullopt;
    const std::string start = r.SDate + r.STime;
    const std::string end = r.EDate + r.ETime;
    const auto name = store(r.FileName);
    const auto startText = store(start);
    const auto endText = store(end);
    const auto image = store(r.ImageName);
    if (!name || !startText || !endText || !image)
        return std::nullopt;
    Item item;
    item.name = *name;
    item.start = *startText;
    item.end = *endText;
    item.image = *image;
    item.startDate = uint16_t(std::min(r.SDate.size(), std::size_t(startText->size)));
    item.endDate = uint16_t(std::min(r.EDate.size(), std::size_t(endText->size)));
    const auto [path, created] = m_pathIds.try_emplace(r.Path, uint32_t(m_paths.size()));
    if (created)
        m_paths.push_back(r.Path);
    item.path = path->second;
    item.group = uint32_t(groupOf(r.Channel, r.Location));
    item.channel = r.Channel;
    item.open = r.Open == 1;
    item.live = true;
    m_items.push_back(item);
    ++m_live;
    return Entry(m_items.size() - 1);
}

namespace {

struct BuildStopped {};

} // namespace

std::optional<ClipCatalog> ClipCatalog::build(RegistryStore& store, const std::atomic<bool>& stop) {
    // Leaving the read by an exception from the visitor is safe: the store's
    // statement is reset on the way out.
    try {
        return build(store, &stop);
    } catch (const BuildStopped&) {
        return std::nullopt;
    }
}

ClipCatalog ClipCatalog::build(RegistryStore& store) {
    return build(store, nullptr);
}

ClipCatalog ClipCatalog::build(RegistryStore& store, const std::atomic<bool>* stop) {
    ClipCatalog catalog;
    ClipIndex::forEachClipRecord(store, [&catalog, stop](ClipRecord& record) {
        if (stop && stop->load(std::memory_order_relaxed))
            throw BuildStopped{};
        if (const auto entry = catalog.add(record)) {
            Group& group = catalog.m_groups[catalog.m_items[*entry].group];
            group.entries.push_back(*entry);
            group.read += record.Open == 1;
        }
    });
    catalog.sortGroups();
    return catalog;
}

void ClipCatalog::sortGroups() {
    for (Group& group : m_groups)
        std::stable_sort(group.entries.begin(), group.entries.end(),
                         [this](Entry a, Entry b) { return fileName(a) < fileName(b); });
}

std::vector<ClipCatalog::Entry>::const_iterator ClipCatalog::lowerBound(const Group& group,
                                                                        std::string_view name) const {
    return std::lower_bound(group.entries.begin(), group.entries.end(), name,
                            [this](Entry e, std::string_view n) { return fileName(e) < n; });
}

std::optional<ClipCatalog::Entry> ClipCatalog::find(std::string_view name) const {
    for (const Group& group : m_groups) {
        const auto it = lowerBound(group, name);
        if (it != group.entries.end() && fileName(*it) == name)
            return *it;
    }
    return std::nullopt;
}

bool ClipCatalog::save(const ClipRecord& record) {
    remove(record.FileName);
    const auto entry = add(record);
    if (!entry)
        return false;
    Group& group = m_groups[m_items[*entry].group];
    // Recordings are newer than everything before them: the usual place is the end.
    const auto at = lowerBound(group, record.FileName);
    group.entries.insert(group.entries.begin() + (at - group.entries.cbegin()), *entry);
    group.read += record.Open == 1;
    return true;
}

bool ClipCatalog::remove(std::string_view name) {
    const auto entry = find(name);
    if (!entry)
        return false;
    Item& item = m_items[*entry];
    Group& group = m_groups[item.group];
    const auto at = lowerBound(group, name);
    group.entries.erase(group.entries.begin() + (at - group.entries.cbegin()));
    group.read -= item.open;
    item.live = false;
    --m_live;
    return true;
}

bool ClipCatalog::setRead(std::string_view name, bool read) {
    const auto entry = find(name);
    if (!entry)
        return false;
    Item& item = m_items[*entry];
    m_groups[item.group].read += int(read) - int(item.open);
    item.open = read;
    return true;
}

std::optional<std::size_t> ClipCatalog::findGroup(std::string_view label) const {
    const auto it = m_groupIds.find(std::string(label));
    return it == m_groupIds.end() ? std::nullopt : std::optional<std::size_t>(it->second);
}

ClipCounts ClipCatalog::counts(std::size_t group) const {
    const Group& g = m_groups.at(group);
    return {int(g.entries.size()), g.read};
}

ClipCatalog::Entry ClipCatalog::newest(std::size_t group, std::size_t row) const {
    const std::vector<Entry>& entries = m_groups.at(group).entries;
    return entries.at(entries.size() - 1 - row);
}

std::string_view ClipCatalog::fileName(Entry entry) const {
    return text(m_items[entry].name);
}

bool ClipCatalog::isRead(Entry entry) const {
    return m_items[entry].open;
}

std::string_view ClipCatalog::start(Entry entry) const {
    return text(m_items[entry].start);
}

ClipRecord ClipCatalog::record(Entry entry) const {
    const Item& item = m_items.at(entry);
    ClipRecord r;
    r.FileName = fileName(entry);
    r.Open = item.open ? 1 : 0;
    r.Channel = item.channel;
    const std::string& label = m_groups[item.group].label;
    const std::string channelPart = channelText(item.channel);
    r.Location = label.size() > channelPart.size() ? label.substr(channelPart.size() + 1) : std::string();
    const std::string_view start = text(item.start);
    r.SDate = start.substr(0, item.startDate);
    r.STime = start.substr(item.startDate);
    const std::string_view end = text(item.end);
    r.EDate = end.substr(0, item.endDate);
    r.ETime = end.substr(item.endDate);
    r.ImageName = text(item.image);
    r.Path = m_paths[item.path];
    return r;
}

std::vector<ClipCatalog::Hit> ClipCatalog::search(std::optional<std::size_t> group,
                                                  const SearchFilter& filter) const {
    std::vector<Hit> hits;
    const std::size_t first = group ? *group : 0;
    const std::size_t last = group ? *group + 1 : m_groups.size();
    for (std::size_t g = first; g < last && g < m_groups.size(); ++g) {
        const std::vector<Entry>& entries = m_groups[g].entries;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            const std::string_view s = start(*it);
            if ((!filter.after || !(s < filter.lower)) && (!filter.before || !(filter.upper < s)))
                hits.push_back({g, *it});
        }
    }
    return hits;
}
