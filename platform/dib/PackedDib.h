#pragma once

// A packed DIB is a 40-byte BITMAPINFOHEADER, biClrUsed colour-table entries of
// 4 bytes, then biSizeImage bytes of image data, contiguous and little-endian.
// Every video frame from a site is one, and so are the frame buffers, the clip
// image files and the snapshot files.
//
// The header fields come from untrusted bytes (the modem, files). parse() only
// reads the 40 bytes it is given, and packedSize() computes the declared total
// in 64 bits, so a caller compares it with the bytes it really holds before
// touching the colour table or the image.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

struct BitmapInfoHeader {
    static constexpr uint32_t kSize = 40;
    static constexpr uint32_t kRgb = 0; // BI_RGB: uncompressed

    uint32_t biSize = kSize;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = kRgb; // FourCC of the codec, or BI_RGB
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;

    // The header at the start of `bytes`; nothing when fewer than 40 bytes are
    // given. The fields are taken as they are, without validation.
    static std::optional<BitmapInfoHeader> parse(std::span<const uint8_t> bytes);
    // The 40 little-endian bytes of this header.
    void write(uint8_t* out) const;

    // Bytes of the colour table: 4 x biClrUsed, in 64 bits (no overflow).
    uint64_t colorTableBytes() const { return uint64_t{4} * biClrUsed; }
    // Declared size of the whole packed DIB: biSize + colour table + biSizeImage.
    uint64_t packedSize() const { return uint64_t{biSize} + colorTableBytes() + biSizeImage; }
};

// "MJPG" -> 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24, as biCompression stores it.
constexpr uint32_t makeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

// A packed DIB checked against the bytes that hold it: valid() only when the
// header parses, biSize is 40 and the declared colour table and image lie
// within `bytes`. The spans point into the caller's bytes.
class PackedDibView {
public:
    explicit PackedDibView(std::span<const uint8_t> bytes);

    bool valid() const { return m_valid; }
    const BitmapInfoHeader& header() const { return m_header; }
    std::span<const uint8_t> colorTable() const { return m_colorTable; }
    std::span<const uint8_t> image() const { return m_image; }
    // Header, colour table and image: the declared packed size, within the bytes.
    std::span<const uint8_t> whole() const { return m_whole; }

private:
    bool m_valid = false;
    BitmapInfoHeader m_header;
    std::span<const uint8_t> m_colorTable;
    std::span<const uint8_t> m_image;
    std::span<const uint8_t> m_whole;
};
