#pragma once

// A decoded picture in a pixel layout a window draws as it is: the result of a
// decompressor before (and usually instead of) any conversion.
//
// How it works: a decoder's output that a painter can draw directly (24-bit
// R,G,B or B,G,R bytes, 16-bit 5-5-5) is not converted at all; the picture
// keeps a reference to the decoder's frame buffer (`owner`), so the bytes stay
// valid however long the window shows them, while the decoder simply decodes
// its next frame into another buffer of its pool. A decoder that updates one
// picture in place from frame to frame (delta-coded formats) lends that picture
// instead (PictureHold::lent): the window then shows the decoder's own buffer,
// which the next frame of the stream updates where it lies, so no copy is made
// per frame; if the decoder lets the buffer go while a picture is still drawn
// from it, the bytes are copied out first. Every other output (YUV,
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

// What keeps the bytes of a decoder's picture drawable: a reference to its
// buffer (`owner`), or, for a lent picture, `lent` as well: where the buffer's
// bytes are now (the decoder's buffer, or a copy once the decoder let it go).
struct PictureHold {
    std::shared_ptr<const void> owner;
    std::shared_ptr<const uint8_t* const> lent;
};

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
    static std::optional<DrawablePicture> fromSource(const SourcePicture& source, int width, int height,
                                                     const BitmapInfoHeader& header,
                                                     FrameConverter& converter,
                                                     const std::function<PictureHold()>& hold);

    // A picture that is a packed DIB already (e.g. from a decompressor that
    // only makes those): packedDib() gives exactly these bytes.
    static DrawablePicture ofPackedDib(std::vector<uint8_t> dib);

    Layout layout() const { return m_layout; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    // Null only for a lent picture whose bytes could not be kept.
    const uint8_t* data() const {
        if (!m_lent)
            return m_data;
        return *m_lent ? *m_lent + m_lentOffset : nullptr;
    }
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
    // Set for a lent picture: data() is at this offset from where the lent
    // buffer's bytes are now.
    std::shared_ptr<const uint8_t* const> m_lent;
    size_t m_lentOffset = 0;
    BitmapInfoHeader m_header;
};
