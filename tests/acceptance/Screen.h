#pragma once

// What a window shows, taken from the X server as the operator would see it,
// and the few judgements the scenarios make about pictures.
//
// How it works: ImageMagick's import reads the window's pixels from the
// server (children included) as PNG on a pipe, which QImage decodes. The
// judgements compare pixels directly: "colourful" counts pixels whose
// channels differ clearly (video, as opposed to the grey of frames, the view
// area's pattern and dialog backgrounds), "changed" compares two grabs of the
// same area.
//
// Without a window manager every new top-level window opens at the screen's
// top-left corner, and there is no compositor: whatever another window covers
// grabs as black. Raise (Xdo::raise) the window to be looked at first.

#include "tests/acceptance/Xdo.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <vector>

class XServer;

class Screen {
public:
    explicit Screen(const XServer& server);

    // The window's current picture; a null image when it cannot be read.
    QImage grab(WindowId window) const;

    // Share (0..1) of the pixels in `area` whose colour is clearly not grey.
    static double colourfulShare(const QImage& image, const QRect& area);
    // Share of the pixels in `area` that differ clearly between two pictures.
    static double changedShare(const QImage& before, const QImage& after, const QRect& area);
    static bool isColourful(QRgb pixel);
    // Strongly red (recording marks, close crosses), not orange.
    static bool isRed(QRgb pixel);
    // The bounding rectangles of the separate regions whose `cell` x `cell`
    // squares are mostly `kind` pixels, with a size between `minSize` and
    // `maxSize`, ordered top to bottom, then left to right.
    static std::vector<QRect> regions(const QImage& image, bool (*kind)(QRgb), int cell, const QSize& minSize,
                                      const QSize& maxSize);

private:
    const XServer& m_server;
};
