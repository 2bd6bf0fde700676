#include "app/core/DemoSite.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

Q_LOGGING_CATEGORY(lcDemo, "dialscope.demo")

namespace {
constexpr char kSimulator[] = "dialscope-sitesim";
}

DemoSite::~DemoSite() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

QString DemoSite::findSimulator(const QString& programDir) {
    const QString name = QLatin1String(kSimulator);
    for (const QString& candidate :
         {programDir + QLatin1Char('/') + name, programDir + QStringLiteral("/../tools/sitesim/") + name}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}

bool DemoSite::Start(const QString& programDir, int waitMs) {
    const QString simulator = findSimulator(programDir);
    if (simulator.isEmpty()) {
        qCWarning(lcDemo) << "no" << kSimulator << "beside the program or on PATH";
        return false;
    }
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
        runtime = QDir::tempPath();
    m_link = runtime + QStringLiteral("/dialscope-demo-modem");
    const QString control = runtime + QStringLiteral("/dialscope-demo.sock");
    QFile::remove(m_link);
    QFile::remove(control);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(simulator, {QStringLiteral("--demo"), QStringLiteral("--link"), m_link,
                                QStringLiteral("--control"), control});
    if (!m_process.waitForStarted(waitMs)) {
        qCWarning(lcDemo) << "cannot start" << simulator << m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(waitMs);
    while (!QFileInfo::exists(m_link) && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        QThread::msleep(50);
    if (!QFileInfo::exists(m_link)) {
        qCWarning(lcDemo) << simulator << "did not publish" << m_link;
        return false;
    }
    const QString others = qEnvironmentVariable("DIALSCOPE_MODEMS");
    qputenv("DIALSCOPE_MODEMS",
            (others.isEmpty() ? m_link : m_link + QLatin1Char(',') + others).toLocal8Bit());
    return true;
}
