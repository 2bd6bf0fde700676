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

QSize VideoViewArea::clientSize() const {
    return viewport()->size();
}

std::unique_ptr<ChannelWindowHandle> VideoViewArea::CreateChannelWindow(const ChannelWindowInfo& info) {
    auto* window = new ChannelWindow(m_context, info, *this);
    connect(window, &ChannelWindow::commandStatesChanged, &m_windowSignals, [this] { scheduleRefresh(); });
    connect(window, &QObject::destroyed, &m_windowSignals, [this] { scheduleRefresh(); });
    scheduleRefresh();
    return std::make_unique<ChannelWindowLink>(window);
}

QList<ChannelWindow*> VideoViewArea::channelWindows() const {
    QList<ChannelWindow*> windows;
    for (QMdiSubWindow* sub : subWindowList(QMdiArea::CreationOrder)) {
        if (auto* window = qobject_cast<ChannelWindow*>(sub))
            windows.append(window);
    }
    return windows;
}

void VideoViewArea::refreshCommandStates() {
    m_refreshPending = false;
    for (ChannelWindow* window : channelWindows())
        window->updateCommandStates();
}

void VideoViewArea::scheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, &VideoViewArea::refreshCommandStates);
}

ChannelWindow* VideoViewArea::aloneWindow() const {
    return m_alone;
}

ChannelWindow* VideoViewArea::activeChannelWindow() const {
    return qobject_cast<ChannelWindow*>(activeSubWindow());
}

bool VideoViewArea::showAlone(ChannelWindow* window) {
    if (!window || m_alone)
        return false;
    m_places.clear();
    for (ChannelWindow* w : channelWindows())
        m_places.append(Place{w, w->geometry(), w->isVisible()});
    for (ChannelWindow* w : channelWindows())
        if (w != window)
            w->hide();
    m_alone = window;
    // The layout comes back once the window is gone for good: while its
    // destroyed() runs, pointers to it still name a half-destroyed object.
    connect(window, &QObject::destroyed, &m_windowSignals, [this] {
        QMetaObject::invokeMethod(
            this, [this] { restoreLayout(); }, Qt::QueuedConnection);
    });
    window->fitInto(QRect(QPoint(0, 0), clientSize()));
    setActiveSubWindow(window);
    window->raise();
    return true;
}

void VideoViewArea::restoreLayout() {
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
