#include "mainwnd/StatusPanes.h"

#include <QPainter>

BitmapPane::BitmapPane(int width, QPixmap picture, QWidget* parent)
    : QWidget(parent)
    , m_picture(std::move(picture)) {
    setFixedWidth(width);
    setMinimumHeight(16);
}

void BitmapPane::setDot(const QPixmap& dot) {
    if (dot.cacheKey() == m_dot.cacheKey())
        return;
    m_dot = dot;
    update();
}

void BitmapPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int top = (height() - 16) / 2;
    painter.drawPixmap(0, top, 16, 16, m_picture);
    if (!m_dot.isNull())
        painter.drawPixmap(17, top, 16, 16, m_dot);
}
