#include "StartupTrace.h"

#include "MainFrame.h"

#include <QDateTime>
#include <QEvent>

Q_LOGGING_CATEGORY(lcStartup, "dialscope.startup", QtWarningMsg)

namespace {

qint64 WallClockMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

void StartupTrace::Watch(MainFrame* frame) {
    if (lcStartup().isInfoEnabled())
        new StartupTrace(frame);
}

StartupTrace::StartupTrace(MainFrame* frame)
    : QObject(frame) {
    frame->installEventFilter(this);
    connect(frame, &MainFrame::ModemsFound, this,
            [] { qCInfo(lcStartup, "modems found at %lld ms", WallClockMs()); });
}

bool StartupTrace::eventFilter(QObject* watched, QEvent* event) {
    if (!m_painted && event->type() == QEvent::Paint) {
        m_painted = true;
        watched->removeEventFilter(this);
        qCInfo(lcStartup, "first paint at %lld ms", WallClockMs());
    }
    return QObject::eventFilter(watched, event);
}
