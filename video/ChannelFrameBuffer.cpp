#include "ChannelFrameBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

ChannelFrameBuffer::ChannelFrameBuffer()
    : m_bytes(new (std::nothrow) uint8_t[kCapacity]()) {}

void ChannelFrameBuffer::Deliver(std::span<const uint8_t> frame,
                                 std::shared_ptr<VideoDecompressor> decompressor) {
    std::lock_guard lock(m_lock);
    if (!m_bytes)
        return;
    m_length = std::min(frame.size(), kCapacity);
    std::memcpy(m_bytes.get(), frame.data(), m_length);
    m_decompressor = std::move(decompressor);
}

bool ChannelFrameBuffer::HoldsFrame() const {
    std::lock_guard lock(m_lock);
    return !HeldFrame().empty();
}

std::optional<std::vector<uint8_t>> ChannelFrameBuffer::Decode() {
    std::lock_guard lock(m_lock);
    const std::span<const uint8_t> frame = HeldFrame();
    if (frame.empty() || !m_decompressor)
        return std::nullopt;
    return m_decompressor->decompress(frame);
}

std::span<const uint8_t> ChannelFrameBuffer::HeldFrame() const {
    if (!m_bytes)
        return {};
    const std::span<const uint8_t> frame(m_bytes.get(), m_length);
    const std::optional<BitmapInfoHeader> header = BitmapInfoHeader::parse(frame);
    if (!header || header->biSize != BitmapInfoHeader::kSize)
        return {};
    return frame;
}
