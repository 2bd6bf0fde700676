#include "video/ui/VideoViewArea.h"

#include "video/ui/ChannelWindow.h"
#include "video/ui/ChannelWindowLink.h"

#include <QBrush>
#include <QPixmap>
#include <QTimer>

#include <utility>

VideoViewArea::VideoViewArea(ChannelWindowContext& context, QWidget* parent)
    : QMdiArea(parent)
    , m_context(context) {
    setBackground(QBrush(QPixmap(QStringLiteral(":/images/view_background.png"))));
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
}

QSize VideoViewArea::ClientSize() const {
    return viewport()->size();
}

std::unique_ptr<ChannelWindowHandle> VideoViewArea::CreateChannelWindow(const ChannelWindowInfo& info) {
    auto* window = new ChannelWindow(m_context, info, *this);
    connect(window, &ChannelWindow::CommandStatesChanged, &m_windowSignals, [this] { ScheduleRefresh(); });
    connect(window, &QObject::destroyed, &m_windowSignals, [this] { ScheduleRefresh(); });
    ScheduleRefresh();
    return std::make_unique<ChannelWindowLink>(window);
}

QList<ChannelWindow*> VideoViewArea::ChannelWindows() const {
    QList<ChannelWindow*> windows;
    for (QMdiSubWindow* sub : subWindowList(QMdiArea::CreationOrder)) {
        if (auto* window = qobject_cast<ChannelWindow*>(sub))
            windows.append(window);
    }
    return windows;
}

void VideoViewArea::RefreshCommandStates() {
    m_refreshPending = false;
    for (ChannelWindow* window : ChannelWindows())
        window->UpdateCommandStates();
}

void VideoViewArea::ScheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, &VideoViewArea::RefreshCommandStates);
}

ChannelWindow* VideoViewArea::AloneWindow() const {
    return m_alone;
}

ChannelWindow* VideoViewArea::ActiveChannelWindow() const {
    return qobject_cast<ChannelWindow*>(activeSubWindow());
}

bool VideoViewArea::ShowAlone(ChannelWindow* window) {
    if (!window || m_alone)
        return false;
    m_places.clear();
    for (ChannelWindow* w : ChannelWindows())
        m_places.append(Place{w, w->geometry(), w->isVisible()});
    for (ChannelWindow* w : ChannelWindows())
        if (w != window)
            w->hide();
    m_alone = window;
    // The layout comes back once the window is gone for good: while its
    // destroyed() runs, pointers to it still name a half-destroyed object.
    connect(window, &QObject::destroyed, &m_windowSignals, [this] {
        QMetaObject::invokeMethod(
            this, [this] { RestoreLayout(); }, Qt::QueuedConnection);
    });
    window->FitInto(QRect(QPoint(0, 0), ClientSize()));
    setActiveSubWindow(window);
    window->raise();
    return true;
}

void VideoViewArea::RestoreLayout() {
    if (m_alone)
        disconnect(m_alone, &QObject::destroyed, &m_windowSignals, nullptr);
    m_alone = nullptr;
    const QList<Place> places = std::exchange(m_places, {});
    for (const Place& place : places) {
        if (!place.window)
            continue;
        place.window->setGeometry(place.geometry);
        place.window->setVisible(place.visible);
    }
}
