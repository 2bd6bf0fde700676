#pragma once

// The owner-drawn panes of the main window's status bar: the disk (with the
// red dot while free space is low, large or small by the blink phase) and the
// telephone. Each draws its 16 x 16 pictures at its top-left corner.

#include <QPixmap>
#include <QWidget>

class BitmapPane : public QWidget {
    Q_OBJECT
public:
    BitmapPane(int width, QPixmap picture, QWidget* parent = nullptr);

    // The dot drawn 17 pixels right of the picture; a null pixmap draws none.
    void setDot(const QPixmap& dot);
    const QPixmap& dot() const { return m_dot; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QPixmap m_dot;
};
