#include "tests/support/TestPattern.h"

#include <cstdlib>

TestImage makeColourBars(int width, int height, int shift) {
    static const uint8_t bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                       {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    TestImage image{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    const int barRows = height * 2 / 3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = image.bgr.data() + (size_t(y) * width + x) * 3;
            if (y < barRows) {
                const int bar = ((x + width - shift % width) % width) * 8 / width;
                p[0] = bars[bar][0];
                p[1] = bars[bar][1];
                p[2] = bars[bar][2];
            } else {
                const uint8_t grey = uint8_t(width > 1 ? x * 255 / (width - 1) : 0);
                p[0] = p[1] = p[2] = grey;
            }
        }
    }
    return image;
}

ImageDifference compareWithDib(const TestImage& expected, const uint8_t* dibPixels, int dibWidth,
                               int dibHeight) {
    ImageDifference diff;
    if (dibWidth != expected.width || dibHeight != expected.height)
        return diff;
    diff.sameSize = true;
    const size_t stride = (size_t(dibWidth) * 3 + 3) & ~size_t(3);
    uint64_t total = 0;
    for (int y = 0; y < expected.height; ++y) {
        const uint8_t* row = dibPixels + size_t(expected.height - 1 - y) * stride;
        for (int x = 0; x < expected.width * 3; ++x) {
            const int d = std::abs(int(row[x]) - int(expected.bgr[size_t(y) * expected.width * 3 + x]));
            total += d;
            if (d > diff.maxAbsolute)
                diff.maxAbsolute = d;
        }
    }
    diff.meanAbsolute = double(total) / (double(expected.width) * expected.height * 3);
    return diff;
}
