#pragma once

// Known pictures for tests of anything that carries images: colour bars over a
// grey ramp, in plain top-down BGR bytes, and a tolerant comparison for lossy
// round trips.

#include <cstddef>
#include <cstdint>
#include <vector>

struct TestImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr; // top-down rows of width x 3 bytes, no padding

    const uint8_t* pixel(int x, int y) const { return bgr.data() + (size_t(y) * width + x) * 3; }
};

// Eight vertical colour bars (white, yellow, cyan, green, magenta, red, blue,
// black) over the top two thirds, a horizontal black-to-white ramp below.
// `shift` moves the bars right by that many pixels (wrapping), so consecutive
// frames can differ a little.
TestImage makeColourBars(int width, int height, int shift = 0);

struct ImageDifference {
    bool sameSize = false;
    double meanAbsolute = 0; // over every channel of every pixel
    int maxAbsolute = 0;
};

// Compares the pixels of a 24-bit DIB (bottom-up BGR rows padded to 4 bytes)
// with `expected`; sameSize is false, and nothing else is set, when the sizes
// differ.
ImageDifference compareWithDib(const TestImage& expected, const uint8_t* dibPixels, int dibWidth,
                               int dibHeight);
