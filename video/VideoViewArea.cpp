#include "VideoViewArea.h"

#include "ChannelWindow.h"
#include "ChannelWindowLink.h"

#include <QBrush>
#include <QPixmap>
#include <QTimer>

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
