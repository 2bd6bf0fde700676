#pragma once

// Turns a decoded or uncompressed picture into a drawable packed DIB (24-bit
// BI_RGB, bottom-up, rows padded to 4 bytes) with libswscale.
//
// libswscale reads and writes whole SIMD blocks, so it never works on the
// caller's bytes or the output directly: sources are FFmpeg frames (padded by
// libavcodec) or copies in an AlignedBuffer, and the result is scaled into a
// padded top-down scratch picture whose rows are then copied bottom-up into the
// DIB. Scaler contexts are kept per source size/format and target size, so
// channels of different sizes do not rebuild them on every frame.

#include "platform/dib/PackedDib.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct SwsContext;

// The largest picture side accepted from a frame header.
inline constexpr int kMaxFrameSide = 8192;

// Width, height and row order of a frame header; nothing when the header's size
// is unusable (width not positive, height zero, a side above kMaxFrameSide).
struct FrameGeometry {
    int width = 0;
    int height = 0;
    bool topDown = false; // negative biHeight: the first row is the top row

    static std::optional<FrameGeometry> of(const BitmapInfoHeader& header);
};

// A DIB colour table (4-byte entries: blue, green, red, unused) as FFmpeg's
// palette of 256 native-endian 0xAARRGGBB words, opaque; entries the table does
// not have are black.
using Palette = std::array<uint32_t, 256>;
Palette paletteFromColorTable(std::span<const uint8_t> colorTable);

// One picture in FFmpeg's plane layout, rows from the top; a negative stride
// walks a bottom-up image from its top row.
struct SourcePicture {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0;
    int height = 0;
    const uint8_t* planes[4] = {};
    int strides[4] = {};
};

// A 64-byte aligned byte buffer with zeroed slack after its size, grown on demand.
class AlignedBuffer {
public:
    static constexpr size_t kSlack = 64;

    // Makes room for `size` bytes (plus the slack); the contents are not kept.
    uint8_t* reserve(size_t size);
    uint8_t* data() const { return m_data.get(); }

private:
    struct Free {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, Free> m_data;
    size_t m_capacity = 0;
};

class FrameConverter {
public:
    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // The drawable DIB of `source` at width x height (scaled when the sizes
    // differ); the pixels-per-metre fields are taken from `input`. Nothing when
    // libswscale cannot read the source format.
    std::optional<std::vector<uint8_t>> toDrawableDib(const SourcePicture& source, int width, int height,
                                                      const BitmapInfoHeader& input);

    // Converts (and scales) `source` into width x height B,G,R rows from the
    // top at `out`, `outStride` bytes apart, in one scaler pass. `out` must
    // hold AlignedBuffer::kSlack writable bytes past its last row. False when
    // libswscale cannot read the source format or a size is unusable.
    bool toBgr24(const SourcePicture& source, int width, int height, uint8_t* out, int outStride);

private:
    struct Scaler {
        AVPixelFormat format;
        int sourceWidth;
        int sourceHeight;
        int width;
        int height;
        SwsContext* context;
        uint64_t lastUse;
    };
    static constexpr size_t kMaxScalers = 4;

    SwsContext* scalerFor(const SourcePicture& source, int width, int height);

    std::vector<Scaler> m_scalers;
    uint64_t m_clock = 0;
    AlignedBuffer m_scratch;
};
