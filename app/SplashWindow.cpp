#include "app/SplashWindow.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QScreen>

namespace {
bool g_enabled = true;
bool g_shownOnce = false;
QPointer<SplashWindow> g_splash;
} // namespace

void SplashWindow::SetEnabled(bool enabled) {
    g_enabled = enabled;
}

SplashWindow* SplashWindow::current() {
    return g_splash;
}

void SplashWindow::Show(QWidget* parent, int showMs) {
    if (!g_enabled || g_shownOnce || g_splash)
        return;
    const QPixmap picture = QIcon(QStringLiteral(":/images/splash.svg")).pixmap(480, 300);
    if (picture.isNull())
        return;
    g_shownOnce = true;
    g_splash = new SplashWindow(picture, parent, showMs);
    g_splash->show();
    g_splash->repaint();
}

void SplashWindow::hideSplash() {
    if (!g_splash)
        return;
    SplashWindow* splash = g_splash;
    g_splash = nullptr;
    qApp->removeEventFilter(splash);
    QWidget* owner = splash->parentWidget();
    splash->hide();
    splash->deleteLater();
    if (owner)
        owner->update();
}

bool SplashWindow::isDismissEvent(const QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        return true;
    default:
        return false;
    }
}

SplashWindow::SplashWindow(QPixmap picture, QWidget* parent, int showMs)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_picture(std::move(picture)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(m_picture.deviceIndependentSize().toSize());
    setCursor(Qt::ArrowCursor);
    // Centred on the screen: the owner is not visible yet.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SplashWindow::hideSplash);
    m_timer.start(showMs);
    qApp->installEventFilter(this);
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

bool SplashWindow::eventFilter(QObject* watched, QEvent* event) {
    // A key first asks whether a shortcut may take it; while the splash shows
    // no shortcut may, so the press that closes it has no other effect.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (isDismissEvent(event)) {
        hideSplash();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
