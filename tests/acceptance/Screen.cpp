#include "tests/acceptance/Screen.h"

#include "tests/acceptance/AcceptancePaths.h"
#include "tests/acceptance/Poll.h"
#include "tests/acceptance/XServer.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Channels further apart than this make a pixel "not grey"; dialog greys and
// anti-aliased text stay well below it.
constexpr int kColourSpread = 40;
constexpr int kChangeThreshold = 48;

} // namespace

Screen::Screen(const XServer& server)
    : m_server(server) {}

QImage Screen::grab(WindowId window) const {
    const ToolResult result = runTool({kImportPath, "-silent", "-window", std::to_string(window), "png:-"},
                                      m_server.clientEnvironment(), kLongWaitMs);
    QImage image;
    if (result.ok())
        image.loadFromData(reinterpret_cast<const uchar*>(result.output.data()), int(result.output.size()),
                           "PNG");
    return image.convertToFormat(QImage::Format_RGB32);
}

double Screen::colourfulShare(const QImage& image, const QRect& area) {
    const QRect inside = area.intersected(image.rect());
    if (inside.isEmpty())
        return 0;
    long count = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += isColourful(image.pixel(x, y)) ? 1 : 0;
    return double(count) / (double(inside.width()) * inside.height());
}

double Screen::changedShare(const QImage& before, const QImage& after, const QRect& area) {
    const QRect inside = area.intersected(before.rect()).intersected(after.rect());
    if (inside.isEmpty())
        return 0;
    long count = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QRgb a = before.pixel(x, y), b = after.pixel(x, y);
            const int difference =
                std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            count += difference > kChangeThreshold ? 1 : 0;
        }
    return double(count) / (double(inside.width()) * inside.height());
}

bool Screen::isColourful(QRgb pixel) {
    const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
    return std::max({r, g, b}) - std::min({r, g, b}) > kColourSpread;
}

bool Screen::isRed(QRgb pixel) {
    return qRed(pixel) > 170 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

std::vector<QRect> Screen::regions(const QImage& image, bool (*kind)(QRgb), int cell, const QSize& minSize,
                                   const QSize& maxSize) {
    const int columns = image.width() / cell, rows = image.height() / cell;
    std::vector<char> marked(size_t(columns) * rows, 0);
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            int count = 0;
            for (int y = 0; y < cell; ++y)
                for (int x = 0; x < cell; ++x)
                    count += kind(image.pixel(column * cell + x, row * cell + y)) ? 1 : 0;
            marked[size_t(row) * columns + column] = 2 * count > cell * cell;
        }

    std::vector<QRect> found;
    std::vector<int> stack;
    for (int start = 0; start < columns * rows; ++start) {
        if (!marked[size_t(start)])
            continue;
        QRect cells(start % columns, start / columns, 1, 1);
        marked[size_t(start)] = 0;
        stack.push_back(start);
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int column = at % columns, row = at / columns;
            cells = cells.united(QRect(column, row, 1, 1));
            const int neighbours[4][2] = {
                {column - 1, row}, {column + 1, row}, {column, row - 1}, {column, row + 1}};
            for (const auto& n : neighbours) {
                if (n[0] < 0 || n[1] < 0 || n[0] >= columns || n[1] >= rows)
                    continue;
                const int next = n[1] * columns + n[0];
                if (marked[size_t(next)]) {
                    marked[size_t(next)] = 0;
                    stack.push_back(next);
                }
            }
        }
        const QRect pixels(cells.x() * cell, cells.y() * cell, cells.width() * cell, cells.height() * cell);
        if (pixels.width() >= minSize.width() && pixels.height() >= minSize.height() &&
            pixels.width() <= maxSize.width() && pixels.height() <= maxSize.height())
            found.push_back(pixels);
    }
    std::sort(found.begin(), found.end(), [](const QRect& a, const QRect& b) {
        return a.top() != b.top() ? a.top() < b.top() : a.left() < b.left();
    });
    return found;
}
