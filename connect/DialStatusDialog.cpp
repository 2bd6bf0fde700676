#include "connect/DialStatusDialog.h"

#include "connect/ResourceIcons.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QLabel* makeText(QWidget* parent, const QString& text, int id) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("text%1").arg(id));
    return label;
}

} // namespace

DialStatusDialog::DialStatusDialog(const QString& number, const QString& status, QWidget* parent,
                                   int animationMs)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(tr("Connect to local site"));
    setModal(false);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("icon1010"));
    m_icon->setFixedSize(ResourceIcons::kIconSize);
    showIcon(DialAnimation::kFirstIcon);

    auto* hangUp = new QPushButton(tr("Hang up"), this);
    hangUp->setObjectName(QStringLiteral("button1069"));
    connect(hangUp, &QPushButton::clicked, this, &DialStatusDialog::hangUpRequested);

    auto* texts = new QGridLayout;
    texts->addWidget(new QLabel(tr("Dial number:"), this), 0, 0);
    texts->addWidget(makeText(this, number, 1011), 0, 1);
    texts->addWidget(makeText(this, status, 1012), 1, 0, 1, 2);
    texts->setColumnStretch(1, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(hangUp, 0, Qt::AlignHCenter);
    setMinimumWidth(fontMetrics().averageCharWidth() * 40);

    m_timer.setInterval(animationMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { showIcon(m_animation.tick()); });
    m_timer.start();
}

void DialStatusDialog::showIcon(int id) {
    m_shownIcon = id;
    m_icon->setPixmap(ResourceIcons::dialIcon(id));
    emit iconShown(id);
}

void DialStatusDialog::present() {
    adjustSize();
    show(); // sized and framed from here on, so the centring below is exact
    QRect area;
    if (parentWidget())
        area = parentWidget()->window()->frameGeometry();
    else if (QScreen* screen = this->screen())
        area = screen->availableGeometry();
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
    raise();
    activateWindow();
    repaint();
}

void DialStatusDialog::reject() {
    // Escape must not hide the window while the call is still being placed.
}
