#include "video/core/PicturePainter.h"

#include "platform/codec/DrawablePicture.h"
#include "video/core/DibPainter.h"

#include <QImage>
#include <QPainter>
#include <QRect>

void drawPicture(QPainter& painter, const QRect& target, const DrawablePicture& picture) {
    QImage::Format format = QImage::Format_BGR888;
    switch (picture.layout()) {
    case DrawablePicture::Layout::PackedDib:
        drawPackedDib(painter, target, picture.packedBytes());
        return;
    case DrawablePicture::Layout::Bgr24:
        format = QImage::Format_BGR888;
        break;
    case DrawablePicture::Layout::Rgb24:
        format = QImage::Format_RGB888;
        break;
    case DrawablePicture::Layout::Rgb555:
        format = QImage::Format_RGB555;
        break;
    }
    if (target.isEmpty() || !picture.data())
        return;
    const QImage image(picture.data(), picture.width(), picture.height(), qsizetype(picture.stride()),
                       format);
    painter.drawImage(target, image, QRect(0, 0, picture.width(), picture.height()));
}
