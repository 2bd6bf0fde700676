#include "link/TileLayout.h"

std::optional<TileLayout> TileLayout::compute(int count, QSize area) {
    if (count < 1 || count > kMaxWindows)
        return std::nullopt;
    TileLayout t;
    t.cols = 1;
    while (t.cols * t.cols < count)
        ++t.cols;
    t.rows = (count + t.cols - 1) / t.cols;

    const int w = area.width();
    const int h = area.height();
    t.cellWidth = w / t.cols;
    t.cellHeight = t.cellWidth * 3 / 4;
    if (t.rows * t.cellHeight > h) {
        t.cellHeight = h / t.rows;
        t.cellWidth = t.cellHeight * 4 / 3;
    }
    t.left = t.cols * t.cellWidth < w ? (w - t.cols * t.cellWidth) / 2 : 0;
    t.top = t.rows * t.cellHeight < h ? (h - t.rows * t.cellHeight) / 2 : 0;
    return t;
}

QRect TileLayout::cell(int index) const {
    return QRect(left + (index % cols) * cellWidth, top + (index / cols) * cellHeight, cellWidth, cellHeight);
}
