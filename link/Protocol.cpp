#include "link/Protocol.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kTrailer[Wire::kTrailerSize] = {'E', 'N', 'D', 0, 'E', 'O', 'F', 0};

} // namespace

int32_t readInt32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

void writeInt32(uint8_t* p, int32_t value) {
    const auto v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void QueuePacket(PacketQueue& queue, OutboundType type, std::span<const uint8_t> payload) {
    std::vector<uint8_t> header(Wire::kOutboundHeaderSize, 0);
    std::memcpy(header.data(), "TOP", 4);
    header[4] = uint8_t(type);
    writeInt32(header.data() + 8, int32_t(payload.size()));
    std::memcpy(header.data() + 12, "EOF", 4);
    queue.queueBlock(std::move(header));
    if (!payload.empty())
        queue.queueBlock(std::vector<uint8_t>(payload.begin(), payload.end()));
    queue.queueBlock(std::vector<uint8_t>(std::begin(kTrailer), std::end(kTrailer)));
}

void SendValue(PacketQueue& queue, OutboundType type, int32_t value) {
    uint8_t payload[4];
    writeInt32(payload, value);
    QueuePacket(queue, type, payload);
}

std::array<uint8_t, Wire::kLoginRecordSize> buildLoginRecord(const LoginValues& values) {
    std::array<uint8_t, Wire::kLoginRecordSize> record{};
    auto putText = [&record](size_t offset, const std::string& text) {
        std::memcpy(record.data() + offset, text.data(), std::min(text.size(), Wire::kLoginTextField));
    };
    putText(0, values.user);
    putText(Wire::kLoginTextField, values.password);
    writeInt32(record.data() + 40, values.formatSize == 1 ? 1 : 0);
    const bool qualityValid = values.quality >= 0 && values.quality <= 100;
    writeInt32(record.data() + 44, qualityValid ? values.quality : Wire::kDefaultQuality);
    return record;
}

std::vector<ChannelEntry> parseChannelList(int32_t count, std::span<const uint8_t> payload) {
    std::vector<ChannelEntry> entries;
    if (count <= 0)
        return entries;
    const size_t whole = payload.size() / ChannelEntry::kRecordSize;
    const size_t n = std::min(size_t(count), whole);
    entries.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* record = payload.data() + i * ChannelEntry::kRecordSize;
        const auto* name = reinterpret_cast<const char*>(record + 4);
        ChannelEntry entry;
        entry.channel = readInt32(record);
        entry.name.assign(name, ::strnlen(name, ChannelEntry::kNameField));
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::array<uint8_t, Wire::kSiteRecordSize> siteRecordFromPayload(std::span<const uint8_t> payload) {
    std::array<uint8_t, Wire::kSiteRecordSize> record{};
    std::copy_n(payload.begin(), std::min(payload.size(), record.size()), record.begin());
    return record;
}
