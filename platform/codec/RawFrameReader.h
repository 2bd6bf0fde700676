#pragma once

// Reads an uncompressed BI_RGB packed DIB (8-bit with its colour table, 16-bit
// 5-5-5, 24-bit, 32-bit; bottom-up or top-down) as a picture for the frame
// converter, without any codec. The rows are copied into an aligned, padded
// buffer first, because libswscale may read past the end of a row.

#include "platform/codec/FrameConverter.h"

#include <optional>
#include <span>

class RawFrameReader {
public:
    static bool supports(uint16_t bitCount);

    // The picture of `view`, a valid BI_RGB packed DIB laid over `packedDib`.
    // Its image must hold every row; a biSizeImage of 0 stands for the computed
    // size, read from the bytes after the colour table when they hold it.
    // Valid until the next call; nothing when the frame is inconsistent.
    std::optional<SourcePicture> read(std::span<const uint8_t> packedDib, const PackedDibView& view,
                                      const FrameGeometry& geometry);

private:
    AlignedBuffer m_copy;
    Palette m_palette{};
};
