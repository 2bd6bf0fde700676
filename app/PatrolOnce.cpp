#include "app/PatrolOnce.h"

#include "app/DialscopeApp.h"
#include "app/core/AppStore.h"
#include "mainwnd/MainFrame.h"
#include "res/StringTable.h"

#include <QApplication>
#include <QLocalSocket>
#include <QThreadPool>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kAllReached = 0;
constexpr int kSitesMissed = 1;
constexpr int kOtherInstance = 3;

// Whether an instance answers on its stored socket name; nothing is asked of
// it (it is not brought forward).
bool instanceRunning(const QString& name) {
    if (name.isEmpty())
        return false;
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(500);
}

void complain(StringId id) {
    std::fprintf(stderr, "dialscope: %s\n", qPrintable(loadString(id)));
}

} // namespace

MessageAnswer UnattendedDialogService::message(QWidget*, const QString& text, MessageButtons buttons,
                                               MessageIcon) {
    std::fprintf(stderr, "dialscope: %s\n", qPrintable(text));
    switch (buttons) {
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

QString UnattendedDialogService::saveFileName(QWidget*, const FileDialogRequest&) {
    return {};
}

QString UnattendedDialogService::openFileName(QWidget*, const FileDialogRequest&) {
    return {};
}

std::optional<QStringList> patrolOnceNames(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.front() != QStringLiteral("--patrol-once"))
        return std::nullopt;
    return arguments.mid(1);
}

int runPatrolOnce(const QStringList& names) {
    UnattendedDialogService dialogs;
    DialscopeApp::Options options;
    options.showWindow = false;
    options.unattended = true;
    options.dialogs = &dialogs;
    DialscopeApp app(options);
    if (instanceRunning(QString::fromStdString(app.store().className()))) {
        complain(IDS_PATROL_ONCE_RUNNING);
        return kOtherInstance;
    }
    if (!app.Start({QStringLiteral("/Embedding")})) {
        complain(IDS_PATROL_ONCE_RUNNING); // one started meanwhile
        return kOtherInstance;
    }
    MainFrame* frame = app.frame();
    int status = kSitesMissed;
    QObject::connect(frame, &MainFrame::patrolFinished, frame, [&status](bool allReached) {
        status = allReached ? kAllReached : kSitesMissed;
        QApplication::quit();
    });
    QTimer::singleShot(0, frame, [frame, names] {
        if (!frame->startPatrol(names)) {
            complain(IDS_PATROL_ONCE_EMPTY);
            QApplication::quit();
        }
    });
    QApplication::exec();
    // The last pictures are written off the UI thread.
    QThreadPool::globalInstance()->waitForDone();
    frame->close();
    return status;
}
