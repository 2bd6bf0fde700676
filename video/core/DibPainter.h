#pragma once

// Draws a packed DIB with a QPainter, stretched over a target rectangle: the
// drawing service of every window that shows decoded video.
//
// How it works: the DIB's pixels are wrapped in a QImage that points into the
// caller's bytes (no copy), and bottom-up DIBs are drawn through a vertical
// flip of the painter instead of being turned over in memory. Uncompressed
// 24 and 32-bit BI_RGB pictures are drawn, which is what the video
// decompressor produces; anything else (a frame that could not be decoded,
// for instance) draws nothing. The header is untrusted: sizes are checked
// against the bytes before a pixel is read.

#include <cstdint>
#include <span>

class QPainter;
class QRect;

// True when the picture was drawn.
bool drawPackedDib(QPainter& painter, const QRect& target, std::span<const uint8_t> packedDib);
