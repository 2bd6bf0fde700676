#pragma once

// The newest frame of a live channel, exactly as it arrived, and the last
// picture decoded from its stream: what a recording starts with, and what the
// channel window repaints and a snapshot freezes.
//
// How it works: one block of kCapacity bytes is allocated, zero-filled, at
// construction and reused for every frame, so a frame costs one copy and no
// allocation. The picture is either a drawable packed DIB kept in a vector
// whose storage is reused while the size stays, or a decoded picture in the
// decoder's own layout (DrawablePicture), which is drawn as it is and turned
// into a packed DIB only when a snapshot asks for one. Pictures are decoded once, by the
// connection in the stream's own decoder state; nothing here decodes, so a
// repaint can never advance or disturb a delta-coded stream. A mutex (the
// frame lock) guards both; every access goes through a member that takes it.
// Only the bytes of the newest frame are handed out, never the stale tail of a
// longer earlier one. When the block cannot be allocated the buffer stays
// unusable: frames are ignored and it never holds a frame.

#include "platform/codec/DrawablePicture.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class ChannelFrameBuffer {
public:
    // Room for a 320 x 240 picture at 24 bits, more than any frame the link accepts.
    static constexpr size_t kCapacity = 320 * 240 * 3;

    ChannelFrameBuffer();

    bool usable() const { return m_bytes != nullptr; }

    // Copies the frame to the start of the buffer (at most kCapacity bytes).
    void deliver(std::span<const uint8_t> frame);
    // Keeps a copy of the picture last drawn (replacing the previous one).
    void setPicture(std::span<const uint8_t> picture);
    // Keeps a decoded picture as the picture last drawn (replacing the previous one).
    void setPicture(DrawablePicture picture);

    // True when the buffer holds a frame: its first 32-bit word is 40.
    bool holdsFrame() const;

    // Runs fn(frame) under the frame lock; `frame` is empty while the buffer
    // holds no frame. fn must not use this buffer again.
    template <class Fn> auto withFrame(Fn&& fn) {
        std::lock_guard lock(m_lock);
        return fn(heldFrame());
    }
    // Runs fn(picture) under the frame lock with the picture as a packed DIB;
    // empty while none was drawn.
    template <class Fn> auto withPicture(Fn&& fn) {
        std::lock_guard lock(m_lock);
        if (m_decoded)
            return fn(std::span<const uint8_t>(m_decoded->packedDib()));
        return fn(std::span<const uint8_t>(m_picture));
    }
    // Runs fn(decoded, dib) under the frame lock: the decoded picture when the
    // last one drawn was one (else null), and the packed DIB otherwise.
    template <class Fn> auto withDrawable(Fn&& fn) {
        std::lock_guard lock(m_lock);
        return fn(m_decoded ? &*m_decoded : nullptr, std::span<const uint8_t>(m_picture));
    }

private:
    std::span<const uint8_t> heldFrame() const;

    mutable std::mutex m_lock;
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_length = 0; // bytes of the newest frame
    std::vector<uint8_t> m_picture;
    std::optional<DrawablePicture> m_decoded;
};
