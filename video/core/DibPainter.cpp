#include "video/core/DibPainter.h"

#include "platform/dib/PackedDib.h"

#include <QImage>
#include <QPainter>
#include <QRect>

namespace {

constexpr int64_t kMaxSide = 8192;

} // namespace

bool drawPackedDib(QPainter& painter, const QRect& target, std::span<const uint8_t> packedDib) {
    const PackedDibView dib(packedDib);
    if (!dib.valid() || target.isEmpty())
        return false;
    const BitmapInfoHeader& header = dib.header();
    if (header.biCompression != BitmapInfoHeader::kRgb)
        return false;
    QImage::Format format;
    if (header.biBitCount == 24)
        format = QImage::Format_BGR888;
    else if (header.biBitCount == 32)
        format = QImage::Format_RGB32; // B, G, R, unused: little-endian 0xffRRGGBB
    else
        return false;

    const int64_t width = header.biWidth;
    const int64_t height = header.biHeight < 0 ? -int64_t(header.biHeight) : int64_t(header.biHeight);
    if (width <= 0 || width > kMaxSide || height == 0 || height > kMaxSide)
        return false;
    const int64_t stride = (width * header.biBitCount + 31) / 32 * 4;
    if (stride * height > int64_t(dib.image().size()))
        return false;

    const QImage image(dib.image().data(), int(width), int(height), qsizetype(stride), format);
    const QRect source(0, 0, int(width), int(height));
    if (header.biHeight < 0) {
        painter.drawImage(target, image, source);
        return true;
    }
    // Bottom-up rows: draw through a flip about the target's horizontal centre.
    painter.save();
    painter.translate(target.left(), target.top() + target.height());
    painter.scale(1, -1);
    painter.drawImage(QRect(0, 0, target.width(), target.height()), image, source);
    painter.restore();
    return true;
}
