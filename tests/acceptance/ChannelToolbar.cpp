#include "ChannelToolbar.h"

#include "Screen.h"

#include <cstdlib>

std::vector<ChannelToolbar> FindChannelToolbars(const QImage& image) {
    const std::vector<QRect> marks = Screen::regions(image, &Screen::isRed, 2, QSize(4, 4), QSize(24, 24));
    auto onBlackStrip = [&](QPoint upper, QPoint lower) {
        int dark = 0, all = 0;
        for (int y = upper.y(); y <= lower.y(); ++y, ++all) {
            const QRgb pixel = image.pixel(upper.x() - 11, y);
            dark += qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40 ? 1 : 0;
        }
        return all > 0 && dark * 10 >= all * 9;
    };
    std::vector<ChannelToolbar> toolbars;
    for (const QRect& upper : marks)
        for (const QRect& lower : marks) {
            const QPoint a = upper.center(), b = lower.center();
            if (std::abs(a.x() - b.x()) <= 2 && b.y() - a.y() > 80 && b.y() - a.y() < 160 && a.x() > 11 &&
                onBlackStrip(a, b))
                toolbars.push_back({a, b});
        }
    return toolbars;
}

bool HasMarkAt(const QImage& image, QPoint centre) {
    int red = 0;
    for (int y = centre.y() - 6; y <= centre.y() + 6; ++y)
        for (int x = centre.x() - 6; x <= centre.x() + 6; ++x)
            red += image.valid(x, y) && Screen::isRed(image.pixel(x, y)) ? 1 : 0;
    return red >= 12;
}
