#pragma once

// Turns a drawable packed DIB (uncompressed BI_RGB, 24 or 32 bits per pixel,
// bottom-up or top-down rows padded to 4 bytes: what the decompressor and
// the player's snapshot produce) into a QImage for painting. The declared
// sizes are checked against the bytes held; anything else, including a
// compressed frame, gives a null image, which is then simply not drawn.

#include <QImage>

#include <cstdint>
#include <span>

QImage dibToImage(std::span<const uint8_t> packedDib);
