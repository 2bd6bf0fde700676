#include "platform/codec/RawFrameReader.h"

#include <cstring>

bool RawFrameReader::supports(uint16_t bitCount) {
    return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

std::optional<SourcePicture> RawFrameReader::read(std::span<const uint8_t> packedDib,
                                                  const PackedDibView& view, const FrameGeometry& geometry) {
    const BitmapInfoHeader& header = view.header();
    if (!supports(header.biBitCount))
        return std::nullopt;
    // Rows are padded to 4 bytes; at most 8192 x 32 bits, so these fit easily.
    const size_t stride = ((size_t(geometry.width) * header.biBitCount + 31) / 32) * 4;
    const size_t needed = stride * size_t(geometry.height);

    std::span<const uint8_t> image = view.image();
    if (header.biSizeImage == 0)
        image = packedDib.subspan(BitmapInfoHeader::kSize + view.colorTable().size());
    if (image.size() < needed)
        return std::nullopt;

    SourcePicture picture;
    picture.width = geometry.width;
    picture.height = geometry.height;
    switch (header.biBitCount) {
    case 8:
        // Without a colour table an index means nothing.
        if (view.colorTable().empty())
            return std::nullopt;
        m_palette = paletteFromColorTable(view.colorTable());
        picture.format = AV_PIX_FMT_PAL8;
        picture.planes[1] = reinterpret_cast<const uint8_t*>(m_palette.data());
        picture.strides[1] = 0;
        break;
    case 16:
        picture.format = AV_PIX_FMT_RGB555LE;
        break;
    case 24:
        picture.format = AV_PIX_FMT_BGR24;
        break;
    default:
        picture.format = AV_PIX_FMT_BGR0;
        break;
    }

    uint8_t* copy = m_copy.reserve(needed);
    if (!copy)
        return std::nullopt;
    std::memcpy(copy, image.data(), needed);
    if (geometry.topDown) {
        picture.planes[0] = copy;
        picture.strides[0] = int(stride);
    } else {
        picture.planes[0] = copy + (size_t(geometry.height) - 1) * stride;
        picture.strides[0] = -int(stride);
    }
    return picture;
}
