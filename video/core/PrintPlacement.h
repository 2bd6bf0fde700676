#pragma once

// Where a picture lands on a printed page: each axis is scaled by the larger
// of the screen's and the printer's resolution divided by the smaller (so
// never below 1; a 600 dpi printer and a 96 dpi screen give 6.25), the
// printed size is truncated to whole device pixels, and the picture is
// centred with integer halves.

struct PrintRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

PrintRect placeOnPage(int imageWidth, int imageHeight, int screenDpiX, int screenDpiY, int printerDpiX,
                      int printerDpiY, int pageWidth, int pageHeight);
