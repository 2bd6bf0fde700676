#pragma once

// A live channel window as the operator finds it in a screenshot of the main
// window: by its vertical toolbar, whose Record dot and Close cross are the
// only red marks stacked in one column on a black strip. Positions are in
// main-window coordinates.

#include <QImage>
#include <QPoint>
#include <QRect>

#include <vector>

struct ChannelToolbar {
    QPoint record;
    QPoint close;
    // The other buttons sit at fixed distances below Record.
    QPoint stop() const { return record + QPoint(0, 24); }
    QPoint snapshot() const { return record + QPoint(0, 87); }
    // A part of the picture, right of the toolbar.
    QRect picture() const { return QRect(record.x() + 30, record.y() + 10, 140, 90); }
};

// Every channel window's toolbar in `image`, top to bottom, left to right.
std::vector<ChannelToolbar> FindChannelToolbars(const QImage& image);

// True when a red mark (Record while not recording, Close) is at `centre`.
bool HasMarkAt(const QImage& image, QPoint centre);
