#include "video/core/PrintPlacement.h"

#include <algorithm>

namespace {

float Scale(int a, int b) {
    if (a <= 0 || b <= 0)
        return 1.0f;
    return float(std::max(a, b)) / float(std::min(a, b));
}

} // namespace

PrintRect placeOnPage(int imageWidth, int imageHeight, int screenDpiX, int screenDpiY, int printerDpiX,
                      int printerDpiY, int pageWidth, int pageHeight) {
    PrintRect r;
    r.width = int(float(imageWidth) * Scale(screenDpiX, printerDpiX));
    r.height = int(float(imageHeight) * Scale(screenDpiY, printerDpiY));
    r.x = pageWidth / 2 - r.width / 2;
    r.y = pageHeight / 2 - r.height / 2;
    return r;
}
