// dialscope: the program's entry point.
#include "app/DialscopeApp.h"
#include "app/PatrolOnce.h"
#include "app/StartupTrace.h"
#include "app/core/CommandLine.h"
#include "app/core/DemoSite.h"
#include "calllog/CallLogCommand.h"
#include "mainwnd/MainFrame.h"
#include "platform/export/ExportCommandLine.h"
#include "platform/log/DialscopeLog.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    StartupTrace::mark("main entered");
    // --version and --help answer before anything needs a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.action != CommandLine::Action::Run) {
        const QByteArray text =
            (commandLine.action == CommandLine::Action::PrintVersion ? versionText() : helpText())
                .toLocal8Bit();
        std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
        return 0;
    }
    // --export runs an evidence export without a window.
    if (const int status = runExportIfAsked(argc, argv); status >= 0)
        return status;

    RegistryStore::setWarningSink([](const char* message) { qCWarning(lcStore, "%s", message); });

    // The settings hold passwords; without a private folder for them (no
    // HOME, no XDG_CONFIG_HOME) the program does not start rather than keep
    // them somewhere shared.
    if (RegistryStore::defaultPath(RegistryRoot::CurrentUser).empty()) {
        std::fprintf(stderr, "dialscope: no folder for the settings: set HOME (or XDG_CONFIG_HOME) to an "
                             "absolute path\n");
        return 2;
    }
    installLogFile();

    // A script's export of the call log runs alone and ends here.
    if (const std::optional<int> status = runCallLogCommand(argc, argv))
        return *status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(loadString(IDS_APP_TITLE));
    QApplication::setOrganizationName(QStringLiteral("Kestrel-Lookout"));
    // Closing the main window ends the program; other top-level windows
    // (viewers, players, help) close with it.
    QApplication::setQuitOnLastWindowClosed(false);
    StartupTrace::mark("application object");

    // The demo modem must be running before the telephony service lists ports.
    DemoSite demo;
    if (commandLine.demo && !demo.Start(QCoreApplication::applicationDirPath()))
        std::fputs("dialscope: the demo site could not be started (see the log)\n", stderr);
    if (const std::optional<QStringList> names = patrolOnceNames(application.arguments().mid(1)))
        return runPatrolOnce(*names);

    int status = 0;
    {
        DialscopeApp app;
        if (!app.Start(application.arguments().mid(1)))
            return 0;
        QObject::connect(app.frame(), &MainFrame::closed, &application, &QApplication::quit,
                         Qt::QueuedConnection);
        status = QApplication::exec();
    }
    return status;
}
