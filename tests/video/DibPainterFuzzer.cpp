// Feeds arbitrary bytes to the drawing of a live channel's picture, which
// also gets a site's raw frame when it could not be decoded.
#include "video/core/DibPainter.h"

#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QImage canvas(64, 48, QImage::Format_RGB32);
    QPainter painter(&canvas);
    drawPackedDib(painter, QRect(3, 2, 50, 40), {data, size});
    return 0;
}
