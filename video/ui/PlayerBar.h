#pragma once

// The player's control bar: the position slider (one step per frame), the
// clip's frame-rate label, the vertical speed slider (index 0, the slowest,
// at the top) and the speed label, both labels in blue. The bar only shows
// and reports; its player decides what a slider movement does. It is
// disabled until a clip is open.

#include <QWidget>

class QLabel;
class QSlider;

class PlayerBar : public QWidget {
    Q_OBJECT

public:
    explicit PlayerBar(QWidget* parent);

    QSlider* positionSlider() const { return m_position; }
    QSlider* speedSlider() const { return m_speed; }
    QLabel* rateLabel() const { return m_rate; }
    QLabel* speedLabel() const { return m_speedLabel; }

signals:
    // A scroll of a slider with its track-bar code (0 line up, 1 line down,
    // 2 page up, 3 page down, 4 thumb position, 5 thumb tracking) and, for
    // the thumb codes, the position reported.
    void positionScrolled(int code, int position);
    void speedScrolled(int code, int position);

private:
    QSlider* m_position;
    QLabel* m_rate;
    QSlider* m_speed;
    QLabel* m_speedLabel;
};
