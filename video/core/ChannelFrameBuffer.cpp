#include "video/core/ChannelFrameBuffer.h"

#include "platform/dib/PackedDib.h"

#include <algorithm>
#include <cstring>
#include <new>

ChannelFrameBuffer::ChannelFrameBuffer()
    : m_bytes(new (std::nothrow) uint8_t[kCapacity]()) {}

void ChannelFrameBuffer::deliver(std::span<const uint8_t> frame) {
    std::lock_guard lock(m_lock);
    if (!m_bytes)
        return;
    m_length = std::min(frame.size(), kCapacity);
    std::memcpy(m_bytes.get(), frame.data(), m_length);
}

void ChannelFrameBuffer::setPicture(std::span<const uint8_t> picture) {
    std::lock_guard lock(m_lock);
    m_decoded.reset();
    m_picture.assign(picture.begin(), picture.end());
}

void ChannelFrameBuffer::setPicture(DrawablePicture picture) {
    std::lock_guard lock(m_lock);
    m_decoded = std::move(picture);
    m_picture.clear();
}

bool ChannelFrameBuffer::holdsFrame() const {
    std::lock_guard lock(m_lock);
    return !heldFrame().empty();
}

std::span<const uint8_t> ChannelFrameBuffer::heldFrame() const {
    if (!m_bytes)
        return {};
    const std::span<const uint8_t> frame(m_bytes.get(), m_length);
    const std::optional<BitmapInfoHeader> header = BitmapInfoHeader::parse(frame);
    if (!header || header->biSize != BitmapInfoHeader::kSize)
        return {};
    return frame;
}
