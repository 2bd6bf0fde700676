#include "link/RemoteControl.h"

#include <vector>

void sendCloseSite(PacketQueue& queue) {
    QueuePacket(queue, OutboundType::CloseSite, {});
}

void sendRebootSite(PacketQueue& queue) {
    QueuePacket(queue, OutboundType::RebootSite, {});
}

void sendRunProgram(PacketQueue& queue, std::string_view commandLine) {
    std::vector<uint8_t> payload;
    if (!commandLine.empty()) {
        payload.assign(commandLine.begin(), commandLine.end());
        payload.push_back(0);
    }
    QueuePacket(queue, OutboundType::RunProgram, payload);
}
