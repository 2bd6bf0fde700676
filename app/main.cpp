// dialscope: the program's entry point.
#include "CallLogCommand.h"
#include "DialscopeApp.h"
#include "MainFrame.h"
#include "StringTable.h"

#include <QApplication>

int main(int argc, char** argv) {
    // A script's export of the call log runs alone and ends here.
    if (const std::optional<int> status = RunCallLogCommand(argc, argv))
        return *status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(LoadString(IDS_APP_TITLE));
    QApplication::setOrganizationName(QStringLiteral("Kestrel-Lookout"));
    // Closing the main window ends the program; other top-level windows
    // (viewers, players, help) close with it.
    QApplication::setQuitOnLastWindowClosed(false);

    int status = 0;
    {
        DialscopeApp app;
        if (!app.Start(application.arguments().mid(1)))
            return 0;
        QObject::connect(app.Frame(), &MainFrame::Closed, &application, &QApplication::quit,
                         Qt::QueuedConnection);
        status = QApplication::exec();
    }
    return status;
}
