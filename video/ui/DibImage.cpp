#include "video/ui/DibImage.h"

#include "platform/dib/PackedDib.h"

#include <cstdlib>

namespace {

constexpr int kMaxSide = 16384;

} // namespace

QImage dibToImage(std::span<const uint8_t> packedDib) {
    const PackedDibView dib(packedDib);
    if (!dib.valid())
        return {};
    const BitmapInfoHeader& h = dib.header();
    const int bits = h.biBitCount;
    if (h.biCompression != BitmapInfoHeader::kRgb || (bits != 24 && bits != 32))
        return {};
    const int width = h.biWidth;
    const bool topDown = h.biHeight < 0;
    const int64_t height = std::llabs(int64_t(h.biHeight));
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return {};
    const uint64_t stride = (uint64_t(width) * bits + 31) / 32 * 4;
    const std::span<const uint8_t> pixels = dib.image();
    if (stride * uint64_t(height) > pixels.size())
        return {};

    QImage image(width, int(height), QImage::Format_RGB32);
    const int bytesPerPixel = bits / 8;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = pixels.data() + stride * uint64_t(topDown ? y : height - 1 - y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, src += bytesPerPixel)
            dst[x] = qRgb(src[2], src[1], src[0]);
    }
    return image;
}
