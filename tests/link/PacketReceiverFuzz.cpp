// Fuzzes the packet receiver and the decoders of inbound payloads. The first
// byte of the input picks the chunk size, so packets are cut at every possible
// boundary; leftovers are parsed next, as the drain loop does.
#include "link/PacketReceiver.h"
#include "link/Protocol.h"
#include "platform/dib/PackedDib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace {

class Decoders final : public PacketHandler {
public:
    bool onPacket(const InboundPacket& packet) override {
        switch (InboundType(packet.type)) {
        case InboundType::ChannelList:
            parseChannelList(packet.param1, packet.payload);
            break;
        case InboundType::SiteInfo:
            siteRecordFromPayload(packet.payload);
            break;
        case InboundType::VideoFrame: {
            const PackedDibView frame(packet.payload);
            if (frame.valid() && !frame.whole().empty())
                m_sum += frame.whole().back();
            return packet.param1 != 0x7FFFFFFF; // now and then halt, as a missing decompressor does
        }
        default:
            break;
        }
        return true;
    }

private:
    unsigned m_sum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t chunk = size_t(data[0]) * 4 + 1;
    static PacketReceiver receiver; // allocated once, like the engine's buffer
    receiver.reset();
    Decoders decoders;
    std::deque<std::vector<uint8_t>> queue;
    for (size_t at = 1; at < size; at += chunk)
        queue.emplace_back(data + at, data + std::min(size, at + chunk));
    while (!queue.empty()) {
        std::vector<uint8_t> next = std::move(queue.front());
        queue.pop_front();
        std::vector<uint8_t> leftover = receiver.ParseChunk(next, decoders);
        if (!leftover.empty())
            queue.push_front(std::move(leftover));
    }
    return 0;
}
