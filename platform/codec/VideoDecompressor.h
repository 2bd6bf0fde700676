#pragma once

// The video decompression service: turns a packed DIB whose image is
// compressed (or uncompressed in another layout) into a packed DIB that can be
// drawn directly: 24-bit BI_RGB, bottom-up rows padded to 4 bytes, biSizeImage
// set, no colour table.
//
// A decompressor is opened for a handler code ("iv50", "mjpg", ...) or located
// for a given frame header, asked whether it can decompress a header, and used
// for any number of frames. It is backed by FFmpeg's libavcodec: the FourCC of
// a frame maps to an FFmpeg decoder through libavformat's RIFF tag table, and
// uncompressed BI_RGB frames (8-bit palettised, 16, 24 and 32-bit) are
// converted without a codec. A frame whose FourCC differs from the one the
// decompressor was opened with is decoded with a decoder for its own FourCC,
// kept alongside, so one decompressor serves every channel of a connection.
//
// All input bytes are untrusted: a corrupt, truncated or inconsistent frame
// yields nothing and never reads past the given bytes. Not thread-safe: one
// thread uses a decompressor at a time (the caller's frame lock).

#include "PackedDib.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

class VideoDecompressor {
public:
    virtual ~VideoDecompressor() = default;

    // Opens the decompressor for a handler code, case-insensitive, e.g. "iv50";
    // nothing when FFmpeg has no decoder for it.
    static std::unique_ptr<VideoDecompressor> open(std::string_view handler);
    // Finds a decompressor that can decompress frames with this header; nothing
    // when none can.
    static std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader& input);

    // True when this decompressor can decompress frames with this header
    // (the query the connection asks before keeping a decompressor).
    virtual bool canDecompress(const BitmapInfoHeader& input) const = 0;

    // Decompresses one whole packed DIB (header, colour table, image). Returns
    // the drawable packed DIB, or nothing when the frame cannot be decoded.
    virtual std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> packedDib) = 0;
};
