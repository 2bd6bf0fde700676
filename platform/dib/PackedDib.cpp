#include "platform/dib/PackedDib.h"

namespace {

uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t u16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

} // namespace

std::optional<BitmapInfoHeader> BitmapInfoHeader::parse(std::span<const uint8_t> bytes) {
    if (bytes.size() < kSize)
        return std::nullopt;
    const uint8_t* p = bytes.data();
    BitmapInfoHeader h;
    h.biSize = u32(p);
    h.biWidth = int32_t(u32(p + 4));
    h.biHeight = int32_t(u32(p + 8));
    h.biPlanes = u16(p + 12);
    h.biBitCount = u16(p + 14);
    h.biCompression = u32(p + 16);
    h.biSizeImage = u32(p + 20);
    h.biXPelsPerMeter = int32_t(u32(p + 24));
    h.biYPelsPerMeter = int32_t(u32(p + 28));
    h.biClrUsed = u32(p + 32);
    h.biClrImportant = u32(p + 36);
    return h;
}

void BitmapInfoHeader::write(uint8_t* out) const {
    put32(out, biSize);
    put32(out + 4, uint32_t(biWidth));
    put32(out + 8, uint32_t(biHeight));
    put16(out + 12, biPlanes);
    put16(out + 14, biBitCount);
    put32(out + 16, biCompression);
    put32(out + 20, biSizeImage);
    put32(out + 24, uint32_t(biXPelsPerMeter));
    put32(out + 28, uint32_t(biYPelsPerMeter));
    put32(out + 32, biClrUsed);
    put32(out + 36, biClrImportant);
}

PackedDibView::PackedDibView(std::span<const uint8_t> bytes) {
    auto header = BitmapInfoHeader::parse(bytes);
    if (!header || header->biSize != BitmapInfoHeader::kSize || header->packedSize() > bytes.size())
        return;
    m_header = *header;
    const size_t table = size_t(header->colorTableBytes());
    m_colorTable = bytes.subspan(BitmapInfoHeader::kSize, table);
    m_image = bytes.subspan(BitmapInfoHeader::kSize + table, header->biSizeImage);
    m_whole = bytes.first(size_t(header->packedSize()));
    m_valid = true;
}
