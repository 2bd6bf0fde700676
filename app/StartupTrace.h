#pragma once

// Start-up timing in the log: the moments the main window is first painted
// and the modem search ends, as milliseconds of the wall clock (so that a
// script that noted when it started the process can subtract). Written to
// the category "dialscope.startup" at info level, which is off unless
// enabled (QT_LOGGING_RULES="dialscope.startup.info=true"). Each line also
// gives the process's CPU time (user + system) so far, which a loaded machine
// disturbs far less than the wall clock; mark() adds the moments between, so
// a slow start shows where its time went.

#include <QLoggingCategory>
#include <QObject>

Q_DECLARE_LOGGING_CATEGORY(lcStartup)

class MainFrame;

class StartupTrace : public QObject {
public:
    // Follows `frame` (and dies with it) until both moments are logged.
    static void watch(MainFrame* frame);
    // Logs "`what` at <wall> ms (cpu <cpu> ms)" when the category is on.
    static void mark(const char* what);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit StartupTrace(MainFrame* frame);
    bool m_painted = false;
};
