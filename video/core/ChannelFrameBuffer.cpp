#include "video/core/ChannelFrameBuffer.h"

#include "platform/dib/PackedDib.h"

#include <algorithm>
#include <cstring>
#include <new>

ChannelFrameBuffer::ChannelFrameBuffer()
    : m_bytes(new (std::nothrow) uint8_t[kCapacity]()) {}

void ChannelFrameBuffer::Deliver(std::span<const uint8_t> frame) {
    std::lock_guard lock(m_lock);
    if (!m_bytes)
        return;
    m_length = std::min(frame.size(), kCapacity);
    std::memcpy(m_bytes.get(), frame.data(), m_length);
}

void ChannelFrameBuffer::SetPicture(std::span<const uint8_t> picture) {
    std::lock_guard lock(m_lock);
    m_decoded.reset();
    m_picture.assign(picture.begin(), picture.end());
}

void ChannelFrameBuffer::SetPicture(DrawablePicture picture) {
    std::lock_guard lock(m_lock);
    m_decoded = std::move(picture);
    m_picture.clear();
}

bool ChannelFrameBuffer::HoldsFrame() const {
    std::lock_guard lock(m_lock);
    return !HeldFrame().empty();
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
