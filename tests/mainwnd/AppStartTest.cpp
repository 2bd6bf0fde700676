// Start-up pieces of the application object: the command-line switches, the
// single running instance, the splash picture's key rule, the About box and
// the start-up sequence.
#include "AboutDialog.h"
#include "AppStore.h"
#include "CommandLine.h"
#include "DemoSite.h"
#include "DialscopeApp.h"
#include "MainFrame.h"
#include "ScriptedDialogService.h"
#include "ScriptedFrameDialogs.h"
#include "ScriptedTelephony.h"
#include "SingleInstance.h"
#include "SplashWindow.h"
#include "StartupSwitches.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Counts the key and mouse presses that reach it.
class PressCounter : public QWidget {
public:
    int presses = 0;

protected:
    void keyPressEvent(QKeyEvent*) override { ++presses; }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// Runs RaiseRunning on another thread while this one serves the socket.
bool RaiseFromAnotherThread(const QString& name) {
    std::atomic<int> result{-1};
    std::thread client([&] { result = SingleInstance::RaiseRunning(name, 3000) ? 1 : 0; });
    while (result < 0)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    client.join();
    return result == 1;
}

QString UniqueName(const char* tag) {
    return QStringLiteral("dialscope-test-%1-%2")
        .arg(QLatin1String(tag))
        .arg(QCoreApplication::applicationPid());
}

} // namespace

TEST(StartupSwitches, OnlyEmbeddingAndAutomationSuppressTheSplash) {
    EXPECT_TRUE(SplashWanted({}));
    EXPECT_FALSE(SplashWanted({QStringLiteral("/embedding")}));
    EXPECT_FALSE(SplashWanted({QStringLiteral("-AUTOMATION")}));
    EXPECT_FALSE(SplashWanted({QStringLiteral("file.avi"), QStringLiteral("-Embedding")}));
    EXPECT_TRUE(SplashWanted({QStringLiteral("Embedding")})); // no switch character
    EXPECT_TRUE(SplashWanted({QStringLiteral("/Embeddings"), QStringLiteral("-"), QStringLiteral("/")}));
    EXPECT_TRUE(SplashWanted({QStringLiteral("--embedding")}));
}

TEST(CommandLine, VersionAndHelpEndTheStartDemoOnlyAdds) {
    using A = CommandLine::Action;
    struct Case {
        QStringList arguments;
        A action;
        bool demo;
    };
    const Case cases[] = {
        {{}, A::Run, false},
        {{QStringLiteral("/Embedding")}, A::Run, false},
        {{QStringLiteral("--demo"), QStringLiteral("-Automation")}, A::Run, true},
        {{QStringLiteral("--version")}, A::PrintVersion, false},
        {{QStringLiteral("--demo"), QStringLiteral("--help"), QStringLiteral("--version")},
         A::PrintHelp,
         true},
        {{QStringLiteral("-h")}, A::PrintHelp, false},
        {{QStringLiteral("--"), QStringLiteral("--version")}, A::Run, false},
        {{QStringLiteral("-version"), QStringLiteral("--Demo")}, A::Run, false}, // exact spellings only
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const CommandLine line = ParseCommandLine(c.arguments);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.demo, c.demo);
    }
    EXPECT_TRUE(VersionText().startsWith(QStringLiteral("dialscope 5.")));
    // The help names every switch the program reads.
    for (const char* word :
         {"/Embedding", "-Automation", "--demo", "--version", "--help", "DIALSCOPE_MODEMS", "rfc2217://"})
        EXPECT_TRUE(HelpText().contains(QLatin1String(word))) << word;
    // The demo site is found in the build tree, beside the tools.
    EXPECT_FALSE(
        DemoSite::FindSimulator(QCoreApplication::applicationDirPath() + QStringLiteral("/../../app"))
            .isEmpty());
}

TEST(SingleInstance, SecondStartRaisesTheFirst) {
    const QString name = UniqueName("raise");
    SingleInstance first;
    ASSERT_TRUE(first.Listen(name));
    int raised = 0;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&] { ++raised; });
    EXPECT_TRUE(RaiseFromAnotherThread(name));
    EXPECT_EQ(raised, 1);
    // A second listener on the same name is refused while the first answers.
    SingleInstance second;
    EXPECT_FALSE(second.Listen(name));
    // Nobody listens on an empty or unknown name.
    EXPECT_FALSE(SingleInstance::RaiseRunning(QString()));
    EXPECT_FALSE(SingleInstance::RaiseRunning(UniqueName("nobody"), 300));
}

TEST(SingleInstance, NameLeftByAVanishedInstanceIsTakenOver) {
    const QString name = UniqueName("stale");
    {
        SingleInstance gone;
        ASSERT_TRUE(gone.Listen(name));
    }
    SingleInstance next;
    EXPECT_TRUE(next.Listen(name));
    EXPECT_EQ(next.ServerName(), name);
    EXPECT_TRUE(RaiseFromAnotherThread(name));
}

TEST(Splash, KeyOrMousePressClosesItAndIsSwallowed) {
    PressCounter window;
    window.show();
    SplashWindow::SetEnabled(true);
    SplashWindow::Show(&window, 60000);
    ASSERT_NE(SplashWindow::Current(), nullptr);
    EXPECT_EQ(SplashWindow::Current()->size(), QSize(480, 300));

    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&window, &key);
    EXPECT_EQ(SplashWindow::Current(), nullptr);
    EXPECT_EQ(window.presses, 0);
    // Once gone, presses pass, and the splash never comes back.
    QApplication::sendEvent(&window, &key);
    EXPECT_EQ(window.presses, 1);
    SplashWindow::Show(&window, 60000);
    EXPECT_EQ(SplashWindow::Current(), nullptr);

    EXPECT_TRUE(SplashWindow::IsDismissEvent(&key));
    QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(SplashWindow::IsDismissEvent(&press));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(SplashWindow::IsDismissEvent(&release));
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    EXPECT_FALSE(SplashWindow::IsDismissEvent(&move));
}

TEST(AboutBox, NamesTheProgramAndItsVersion) {
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Dialscope..."));
    EXPECT_EQ(about.Text(), QStringLiteral("Dialscope version 5.20"));
}

TEST(DialscopeApp, StartRecordsTheInstanceAndASecondStartRaisesIt) {
    ScriptedDialogService dialogs;
    tel::ScriptedTelephony telephony;
    ScriptedFrameDialogs frameDialogs;
    DialscopeApp::Options options;
    options.dialogs = &dialogs;
    options.telephony = &telephony;
    options.frameDialogs = &frameDialogs;
    options.instanceName = UniqueName("app");
    options.showWindow = false;
    DialscopeApp app(options);
    ASSERT_TRUE(app.Start({QStringLiteral("/automation")}));
    ASSERT_NE(app.Frame(), nullptr);
    EXPECT_EQ(QString::fromStdString(app.Store().GetClassName()), options.instanceName);
    EXPECT_TRUE(dialogs.shown().empty()); // no password stored: nothing asked

    app.Frame()->showMinimized();
    EXPECT_TRUE(RaiseFromAnotherThread(options.instanceName));
    EXPECT_FALSE(app.Frame()->isMinimized());
    EXPECT_TRUE(app.Frame()->isVisible());
    app.Frame()->close();
}
