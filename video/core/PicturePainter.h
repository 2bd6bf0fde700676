#pragma once

// Draws a decoded picture (DrawablePicture) with a QPainter, stretched over a
// target rectangle: how a live channel window shows its stream.
//
// How it works: the picture's bytes are wrapped in a QImage of the matching
// format (B,G,R, R,G,B or 5-5-5), with no copy and no conversion; a picture
// that is a packed DIB goes through DrawPackedDib, which checks its header.
// The picture's sizes come from the decoder, not from the site's bytes.

class DrawablePicture;
class QPainter;
class QRect;

void drawPicture(QPainter& painter, const QRect& target, const DrawablePicture& picture);
