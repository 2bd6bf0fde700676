#pragma once

// The video decompression service: turns a packed DIB whose image is
// compressed (or uncompressed in another layout) into a packed DIB that can be
// drawn directly: 24-bit BI_RGB, bottom-up rows padded to 4 bytes, biSizeImage
// set, no colour table, the size of the input header.
//
// A decompressor is opened for a handler code ("iv50", "mjpg", ...) or located
// for a given frame header, asked whether it can decompress a header, and used
// for any number of frames. It is backed by FFmpeg's libavcodec: the FourCC of
// a frame maps to an FFmpeg decoder through libavformat's RIFF tag table, and
// uncompressed BI_RGB frames (8-bit palettised, 16-bit 5-5-5, 24 and 32-bit,
// either row order) are converted without a codec. A frame whose FourCC
// differs from the one the decompressor was opened with is decoded with a
// decoder for its own FourCC, kept alongside. Delta-coded formats (Cinepak,
// Microsoft Video 1, Indeo) decode each frame against the previous picture,
// so a decompressor belongs to exactly one stream: a connection asks fresh()
// for one per channel stream, never sharing one between streams.
//
// All input bytes are untrusted: a corrupt, truncated or inconsistent frame
// (a side above 8192 pixels, a declared size beyond the given bytes) yields
// nothing and never reads past the given bytes. Not thread-safe: one thread
// uses a decompressor at a time (the caller's frame lock); separate
// decompressors may run on separate threads.

#include "platform/codec/DrawablePicture.h"
#include "platform/dib/PackedDib.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

class VideoDecompressor {
public:
    virtual ~VideoDecompressor() = default;

    // Opens the decompressor for a handler code of 1 to 4 characters (shorter
    // codes are padded with spaces), case-insensitive, e.g. "iv50"; nothing
    // when FFmpeg has no decoder for it.
    static std::unique_ptr<VideoDecompressor> open(std::string_view handler);
    // Finds a decompressor that can decompress frames with this header; nothing
    // when none can.
    static std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader& input);

    // True when this decompressor's own decoder takes frames with this header
    // (any FourCC naming that decoder, a usable size): the query asked before
    // a decompressor is kept.
    virtual bool canDecompress(const BitmapInfoHeader& input) const = 0;

    // A decompressor of the same kind (same decoder choice) that holds no
    // picture yet: what each further stream of a connection decodes with.
    // Nothing when one cannot be made.
    virtual std::unique_ptr<VideoDecompressor> fresh() const = 0;

    // Decompresses one whole packed DIB (header, colour table, image; bytes
    // after its declared size are ignored). Returns the drawable packed DIB, or
    // nothing when the frame cannot be decoded. A BI_RGB frame with biSizeImage
    // 0 is read with its computed image size when the bytes hold it.
    virtual std::optional<std::vector<uint8_t>> decompress(std::span<const uint8_t> packedDib) = 0;

    // The same picture as decompress(), in the form a window draws without
    // converting it (see DrawablePicture): what live channels show. Its
    // packedDib() equals what decompress() returns for the frame. The default
    // wraps decompress().
    virtual std::optional<DrawablePicture> decompressPicture(std::span<const uint8_t> packedDib);

    // Like decompressPicture(), for a caller that shows only the newest
    // picture of the stream and replaces it with the next one (a live channel
    // window): the picture may be lent by a decoder that updates its picture
    // in place, so its bytes then follow the stream's later frames instead of
    // staying as they are. It stays drawable for as long as it is held. The
    // default is decompressPicture().
    virtual std::optional<DrawablePicture> decompressLivePicture(std::span<const uint8_t> packedDib) {
        return decompressPicture(packedDib);
    }
};
