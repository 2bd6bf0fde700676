#pragma once

// Inbound video packets for the link benchmarks.

#include "link/Protocol.h"
#include "platform/dib/PackedDib.h"

#include <cstring>
#include <random>
#include <vector>

inline std::vector<uint8_t> videoPacket(int32_t channel, int32_t key, size_t payloadSize, uint32_t seed) {
    std::vector<uint8_t> packet(Wire::kInboundHeaderSize + payloadSize + Wire::kTrailerSize);
    std::memcpy(packet.data(), "TOP", 4);
    packet[4] = uint8_t(InboundType::VideoFrame);
    writeInt32(packet.data() + 8, channel);
    writeInt32(packet.data() + 12, key);
    writeInt32(packet.data() + 16, int32_t(payloadSize));
    std::memcpy(packet.data() + 20, "EOF", 4);
    uint8_t* payload = packet.data() + Wire::kInboundHeaderSize;
    std::mt19937 rng(seed);
    for (size_t i = 0; i < payloadSize; ++i)
        payload[i] = uint8_t(rng());
    BitmapInfoHeader header;
    header.biWidth = 320;
    header.biHeight = 240;
    header.biBitCount = 24;
    header.biCompression = makeFourCC('I', 'V', '5', '0');
    header.biSizeImage = uint32_t(payloadSize - BitmapInfoHeader::kSize);
    header.write(payload);
    std::memcpy(packet.data() + Wire::kInboundHeaderSize + payloadSize, "END\0EOF", 8);
    return packet;
}
