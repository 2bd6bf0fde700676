#include "video/ui/PlayerBar.h"

#include "video/core/PlayerTables.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

namespace {

// Track-bar code of a slider action; -1 for actions that report nothing.
int ScrollCode(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return player::LineUp;
    case QAbstractSlider::SliderSingleStepAdd:
        return player::LineDown;
    case QAbstractSlider::SliderPageStepSub:
        return player::PageUp;
    case QAbstractSlider::SliderPageStepAdd:
        return player::PageDown;
    case QAbstractSlider::SliderMove:
        return player::ThumbTrack;
    // Home and End: the slider already stands at its end; the position is taken.
    case QAbstractSlider::SliderToMinimum:
    case QAbstractSlider::SliderToMaximum:
        return player::ThumbPosition;
    default:
        return -1;
    }
}

void Connect(PlayerBar* bar, QSlider* slider, void (PlayerBar::*signal)(int, int)) {
    QObject::connect(slider, &QAbstractSlider::actionTriggered, bar, [=](int action) {
        const int code = ScrollCode(action);
        if (code >= 0)
            emit(bar->*signal)(code, slider->sliderPosition());
    });
    QObject::connect(slider, &QAbstractSlider::sliderReleased, bar,
                     [=] { emit(bar->*signal)(player::ThumbPosition, slider->sliderPosition()); });
}

} // namespace

PlayerBar::PlayerBar(QWidget* parent)
    : QWidget(parent)
    , m_position(new QSlider(Qt::Horizontal, this))
    , m_rate(new QLabel(this))
    , m_speed(new QSlider(Qt::Vertical, this))
    , m_speedLabel(new QLabel(this)) {
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(font().pointSize());
    setFont(arial);

    m_position->setRange(0, 0);
    m_position->setPageStep(10);
    m_speed->setRange(0, int(player::kSpeeds.size()) - 1);
    m_speed->setValue(player::kDefaultSpeed);
    m_speed->setPageStep(1);
    m_speed->setInvertedAppearance(true);
    // The slowest speed is at the top: Up and PageUp step towards it (line
    // and page up lower the index), Down and PageDown away from it.
    m_speed->setInvertedControls(true);
    m_speed->setTickPosition(QSlider::NoTicks);
    m_speed->setFixedHeight(30);

    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    m_rate->setPalette(blue);
    m_speedLabel->setPalette(blue);
    m_rate->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("FPS: 00.0")) + 4);
    m_speedLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("x2.5")) + 4);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_position, 1);
    layout->addWidget(m_rate);
    layout->addWidget(m_speed);
    layout->addWidget(m_speedLabel);
    setMinimumWidth(300);

    Connect(this, m_position, &PlayerBar::positionScrolled);
    Connect(this, m_speed, &PlayerBar::speedScrolled);
    setEnabled(false);
}
