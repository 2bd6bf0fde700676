#pragma once

// The grid that tiles n channel windows over the view area: cols = ceil(sqrt n)
// columns and ceil(n / cols) rows of 4:3 cells, as wide as the area allows
// unless the rows would then be too tall, centred where space is left over.
// Windows fill the cells row by row, left to right.

#include <QRect>
#include <QSize>

#include <optional>

struct TileLayout {
    static constexpr int kMaxWindows = 64;

    int cols = 0;
    int rows = 0;
    int cellWidth = 0;
    int cellHeight = 0;
    int left = 0;
    int top = 0;

    // The layout for `count` windows in `area`; nothing for 0 windows or for
    // more than 64 (then windows are left where they are).
    static std::optional<TileLayout> compute(int count, QSize area);
    // The cell of the index-th window.
    QRect cell(int index) const;
};
