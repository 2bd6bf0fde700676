#include "app/StartupTrace.h"

#include "mainwnd/MainFrame.h"

#include <QDateTime>
#include <QEvent>

#include <sys/resource.h>

Q_LOGGING_CATEGORY(lcStartup, "dialscope.startup", QtWarningMsg)

namespace {

qint64 wallClockMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 cpuMs() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return -1;
    const auto ms = [](const timeval& t) {
        return qint64(t.tv_sec) * 1000 + t.tv_usec / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

} // namespace

void StartupTrace::mark(const char* what) {
    if (lcStartup().isInfoEnabled())
        qCInfo(lcStartup, "%s at %lld ms (cpu %lld ms)", what, wallClockMs(), cpuMs());
}

void StartupTrace::watch(MainFrame* frame) {
    if (lcStartup().isInfoEnabled())
        new StartupTrace(frame);
}

StartupTrace::StartupTrace(MainFrame* frame)
    : QObject(frame) {
    frame->installEventFilter(this);
    connect(frame, &MainFrame::modemsFound, this,
            [] { qCInfo(lcStartup, "modems found at %lld ms", wallClockMs()); });
}

bool StartupTrace::eventFilter(QObject* watched, QEvent* event) {
    if (!m_painted && event->type() == QEvent::Paint) {
        m_painted = true;
        watched->removeEventFilter(this);
        mark("first paint");
    }
    return QObject::eventFilter(watched, event);
}
