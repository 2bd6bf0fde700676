#pragma once

// The newest frame of a live channel, exactly as it arrived, with the
// decompressor that decodes it: what the channel window repaints from, what a
// recording starts with and what a snapshot freezes.
//
// How it works: one block of kCapacity bytes is allocated, zero-filled, at
// construction and reused for every frame, so a frame costs one copy and no
// allocation. A mutex (the frame lock) guards the bytes and the decompressor;
// every access goes through a member that takes it. Only the bytes of the
// newest frame are handed out, never the stale tail of a longer earlier one.
// When the block cannot be allocated the buffer stays unusable: frames are
// ignored and it never holds a frame.

#include "VideoDecompressor.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

class ChannelFrameBuffer {
public:
    // Room for a 320 x 240 picture at 24 bits, more than any frame the link accepts.
    static constexpr size_t kCapacity = 320 * 240 * 3;

    ChannelFrameBuffer();

    bool Usable() const { return m_bytes != nullptr; }

    // Copies the frame to the start of the buffer (at most kCapacity bytes)
    // and keeps the decompressor for later decoding.
    void Deliver(std::span<const uint8_t> frame, std::shared_ptr<VideoDecompressor> decompressor);

    // True when the buffer holds a frame: its first 32-bit word is 40.
    bool HoldsFrame() const;

    // Decodes the held frame with the held decompressor: the drawable packed
    // DIB, or nothing (no frame, no decompressor, or the frame does not decode).
    std::optional<std::vector<uint8_t>> Decode();

    // Runs fn(frame, decompressor) under the frame lock; `frame` is empty while
    // the buffer holds no frame. fn must not use this buffer again.
    template <class Fn> auto WithFrame(Fn&& fn) {
        std::lock_guard lock(m_lock);
        return fn(HeldFrame(), std::as_const(m_decompressor));
    }

private:
    std::span<const uint8_t> HeldFrame() const;

    mutable std::mutex m_lock;
    std::unique_ptr<uint8_t[]> m_bytes;
    size_t m_length = 0; // bytes of the newest frame
    std::shared_ptr<VideoDecompressor> m_decompressor;
};
