#pragma once

// "dialscope --demo": the simulated site as a demo modem, as scripts/run.sh
// starts it. The simulator is looked up beside the program, in the build
// tree's tools folder and on PATH; it publishes its terminal as
// $XDG_RUNTIME_DIR/dialscope-demo-modem (control socket
// dialscope-demo.sock), which is put in front of DIALSCOPE_MODEMS. The
// simulator is stopped when this object goes.
//
// Start() runs before the main window exists and waits at most the given time
// for the terminal to appear.

#include <QProcess>
#include <QString>

class DemoSite {
public:
    DemoSite() = default;
    ~DemoSite();
    DemoSite(const DemoSite&) = delete;
    DemoSite& operator=(const DemoSite&) = delete;

    // The simulator's path, empty when none is found.
    static QString findSimulator(const QString& programDir);
    // Starts it and points DIALSCOPE_MODEMS at it; false (with the reason in
    // the log) when it cannot.
    bool Start(const QString& programDir, int waitMs = 5000);
    QString modemPath() const { return m_link; }

private:
    QProcess m_process;
    QString m_link;
};
