#pragma once

// A decoded picture in a pixel layout a window draws as it is: the result of a
// decompressor before (and usually instead of) any conversion.
//
// How it works: a decoder's output that a painter can draw directly (24-bit
// R,G,B or B,G,R bytes, 16-bit 5-5-5) is not converted at all; the picture
// keeps a reference to the decoder's frame buffer (`owner`), so the bytes stay
// valid however long the window shows them, while the decoder simply decodes
// its next frame into another buffer of its pool. Every other output (YUV,
// palettised, a picture of another size than its header) is converted once,
// by one scaler pass, into a buffer the picture owns. packedDib() gives the
// classic drawable packed DIB (24-bit BI_RGB, bottom-up, rows padded to 4
// bytes) for snapshots, files and callers that keep bytes; it is computed
// only when asked for.

#include "platform/codec/FrameConverter.h"
#include "platform/dib/PackedDib.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class DrawablePicture {
public:
    enum class Layout {
        Bgr24,     // bytes B, G, R
        Rgb24,     // bytes R, G, B
        Rgb555,    // little-endian 16-bit words, 0RRRRRGGGGGBBBBB (the top bit is ignored)
        PackedDib, // the bytes are a packed DIB, drawn and handed out as they are
    };

    // `data` points at the top row; rows are `stride` bytes apart (positive,
    // a multiple of 4). `owner` keeps the bytes alive; `header` is the frame's
    // own header (its pixels-per-metre fields go into packedDib()).
    DrawablePicture(Layout layout, int width, int height, const uint8_t* data, int stride,
                    std::shared_ptr<const void> owner, const BitmapInfoHeader& header);

    // The picture of `source` at width x height: `source` itself when a
    // painter can draw its layout at that size (then `hold()` gives what keeps
    // its bytes alive), else one conversion into a B,G,R buffer of its own.
    // Nothing when the conversion fails.
    static std::optional<DrawablePicture>
    fromSource(const SourcePicture& source, int width, int height, const BitmapInfoHeader& header,
               FrameConverter& converter, const std::function<std::shared_ptr<const void>()>& hold);

    // A picture that is a packed DIB already (e.g. from a decompressor that
    // only makes those): packedDib() gives exactly these bytes.
    static DrawablePicture ofPackedDib(std::vector<uint8_t> dib);

    Layout layout() const { return m_layout; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const uint8_t* data() const { return m_data; }
    int stride() const { return m_stride; }
    // The whole packed DIB of a PackedDib picture; empty for other layouts.
    std::span<const uint8_t> packedBytes() const;

    // The picture as a drawable packed DIB, converted with `converter` (whose
    // cached scalers make repeated calls cheap) or a converter of its own.
    // Empty when the conversion fails.
    std::vector<uint8_t> packedDib(FrameConverter& converter) const;
    std::vector<uint8_t> packedDib() const;

private:
    Layout m_layout;
    int m_width;
    int m_height;
    const uint8_t* m_data;
    int m_stride;
    std::shared_ptr<const void> m_owner;
    BitmapInfoHeader m_header;
};
