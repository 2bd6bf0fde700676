// Start-up pieces of the application object: the command-line switches, the
// single running instance, the splash picture's key rule, the About box and
// the start-up sequence.
#include "app/AboutDialog.h"
#include "app/DialscopeApp.h"
#include "app/SplashWindow.h"
#include "app/core/AppStore.h"
#include "app/core/CommandLine.h"
#include "app/core/DemoSite.h"
#include "app/core/SingleInstance.h"
#include "app/core/StartupSwitches.h"
#include "mainwnd/MainFrame.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/telephony/ScriptedTelephony.h"
#include "tests/mainwnd/ScriptedFrameDialogs.h"
#include "tests/support/TempDir.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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
bool raiseFromAnotherThread(const QString& name) {
    std::atomic<int> result{-1};
    std::thread client([&] { result = SingleInstance::raiseRunning(name, 3000) ? 1 : 0; });
    while (result < 0)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    client.join();
    return result == 1;
}

QString uniqueName(const char* tag) {
    return QStringLiteral("dialscope-test-%1-%2")
        .arg(QLatin1String(tag))
        .arg(QCoreApplication::applicationPid());
}

} // namespace

TEST(StartupSwitches, OnlyEmbeddingAndAutomationSuppressTheSplash) {
    EXPECT_TRUE(splashWanted({}));
    EXPECT_FALSE(splashWanted({QStringLiteral("/embedding")}));
    EXPECT_FALSE(splashWanted({QStringLiteral("-AUTOMATION")}));
    EXPECT_FALSE(splashWanted({QStringLiteral("file.avi"), QStringLiteral("-Embedding")}));
    EXPECT_TRUE(splashWanted({QStringLiteral("Embedding")})); // no switch character
    EXPECT_TRUE(splashWanted({QStringLiteral("/Embeddings"), QStringLiteral("-"), QStringLiteral("/")}));
    EXPECT_TRUE(splashWanted({QStringLiteral("--embedding")}));
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
        const CommandLine line = parseCommandLine(c.arguments);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.demo, c.demo);
    }
    EXPECT_TRUE(versionText().startsWith(QStringLiteral("dialscope 5.")));
    // The help names every switch the program reads.
    for (const char* word : {"/Embedding", "-Automation", "--demo", "--version", "--help", "--export",
                             "--patrol-once", "--call-log-csv", "DIALSCOPE_MODEMS", "rfc2217://"})
        EXPECT_TRUE(helpText().contains(QLatin1String(word))) << word;
    // The demo site is found in the build tree, beside the tools.
    EXPECT_FALSE(
        DemoSite::findSimulator(QCoreApplication::applicationDirPath() + QStringLiteral("/../../app"))
            .isEmpty());
}

TEST(SingleInstance, SecondStartRaisesTheFirst) {
    const QString name = uniqueName("raise");
    SingleInstance first;
    ASSERT_TRUE(first.listen(name));
    int raised = 0;
    QObject::connect(&first, &SingleInstance::raiseRequested, [&] { ++raised; });
    EXPECT_TRUE(raiseFromAnotherThread(name));
    EXPECT_EQ(raised, 1);
    // A second listener on the same name is refused while the first answers.
    SingleInstance second;
    EXPECT_FALSE(second.listen(name));
    // Nobody listens on an empty or unknown name.
    EXPECT_FALSE(SingleInstance::raiseRunning(QString()));
    EXPECT_FALSE(SingleInstance::raiseRunning(uniqueName("nobody"), 300));
}

TEST(SingleInstance, NameLeftByAVanishedInstanceIsTakenOver) {
    const QString name = uniqueName("stale");
    {
        SingleInstance gone;
        ASSERT_TRUE(gone.listen(name));
    }
    SingleInstance next;
    EXPECT_TRUE(next.listen(name));
    EXPECT_EQ(next.serverName(), name);
    EXPECT_TRUE(raiseFromAnotherThread(name));
}

TEST(SingleInstance, TheSocketLivesInAFolderNoOtherUserCanWrite) {
    TempDir dir;
    const std::string runtime = dir.file("runtime");
    const std::string store = dir.file("store");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(store.c_str(), 0700), 0);
    const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char* savedStore = std::getenv("DIALSCOPE_REGISTRY_DIR");
    const std::string oldRuntime = savedRuntime ? savedRuntime : "", oldStore = savedStore ? savedStore : "";

    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("DIALSCOPE_REGISTRY_DIR", store.c_str(), 1);
    EXPECT_EQ(SingleInstance::defaultName().toStdString(), runtime + "/dialscope.socket");
    // A runtime folder others may write is no better than /tmp: the store's.
    ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);
    EXPECT_EQ(SingleInstance::defaultName().toStdString(), store + "/dialscope.socket");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::defaultName().toStdString(), store + "/dialscope.socket");
    ASSERT_EQ(::chmod(store.c_str(), 0777), 0);
    EXPECT_EQ(SingleInstance::defaultName(), QString()) << "no private folder: no shared name either";

    savedRuntime ? setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
    savedStore ? setenv("DIALSCOPE_REGISTRY_DIR", oldStore.c_str(), 1) : unsetenv("DIALSCOPE_REGISTRY_DIR");
}

// Another user answers "ok" on the name (as a planted socket would): this
// start neither ends nor gives up the name.
TEST(SingleInstance, AnotherUsersSocketIsNoRunningInstance) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to answer as another user";
    TempDir dir;
    const std::string path = dir.file("planted.socket");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The peer credentials are taken when listening starts.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(listener, 4) != 0)
            ::_exit(1);
        for (int served = 0; served < 4; ++served) {
            const int peer = ::accept(listener, nullptr, nullptr);
            if (peer < 0)
                ::_exit(1);
            char line[16];
            if (::read(peer, line, sizeof line) > 0 && ::write(peer, "ok\n", 3) != 3)
                ::_exit(1);
            ::close(peer);
        }
        ::_exit(0);
    }
    ::close(listener);
    const QString name = QString::fromStdString(path);
    bool listening = false;
    for (int i = 0; i < 100 && !listening; ++i) { // until the child listens
        QLocalSocket probe;
        probe.connectToServer(name);
        listening = probe.waitForConnected(50);
        if (!listening)
            QThread::msleep(10);
    }
    ASSERT_TRUE(listening);
    EXPECT_FALSE(SingleInstance::raiseRunning(name, 1000));
    SingleInstance ours;
    EXPECT_TRUE(ours.listen(name)) << "the name is taken over";
    EXPECT_TRUE(raiseFromAnotherThread(name));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(Splash, KeyOrMousePressClosesItAndIsSwallowed) {
    PressCounter window;
    window.show();
    SplashWindow::SetEnabled(true);
    SplashWindow::Show(&window, 60000);
    ASSERT_NE(SplashWindow::current(), nullptr);
    EXPECT_EQ(SplashWindow::current()->size(), QSize(480, 300));

    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&window, &key);
    EXPECT_EQ(SplashWindow::current(), nullptr);
    EXPECT_EQ(window.presses, 0);
    // Once gone, presses pass, and the splash never comes back.
    QApplication::sendEvent(&window, &key);
    EXPECT_EQ(window.presses, 1);
    SplashWindow::Show(&window, 60000);
    EXPECT_EQ(SplashWindow::current(), nullptr);

    EXPECT_TRUE(SplashWindow::isDismissEvent(&key));
    QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(SplashWindow::isDismissEvent(&press));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier);
    EXPECT_FALSE(SplashWindow::isDismissEvent(&release));
    QMouseEvent move(QEvent::MouseMove, QPointF(1, 1), QPointF(1, 1), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    EXPECT_FALSE(SplashWindow::isDismissEvent(&move));
}

// An unattended run (--patrol-once) never waits for a person: the stored
// start-up password is not asked, no window is shown, and a second start's
// request to bring the window forward is answered (so that start ends) but
// shows nothing. An ordinary start on the same store still asks.
TEST(DialscopeApp, AnUnattendedRunAsksNoPasswordAndNeverShowsTheWindow) {
    ScriptedDialogService dialogs;
    tel::ScriptedTelephony telephony;
    ScriptedFrameDialogs frameDialogs;
    DialscopeApp::Options options;
    options.dialogs = &dialogs;
    options.telephony = &telephony;
    options.frameDialogs = &frameDialogs;
    options.instanceName = uniqueName("unattended");
    options.unattended = true;
    // Whatever modal window comes up is counted and closed, so nothing hangs.
    int modals = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&modals] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++modals;
            modal->close();
        }
    });
    closer.start(20);
    struct ForgetPassword {
        ~ForgetPassword() { AppStore().SaveAppPassword("", ""); }
    } forget;
    {
        DialscopeApp app(options);
        ASSERT_TRUE(app.store().SaveAppPassword("op", "secret"));
        ASSERT_TRUE(app.Start({QStringLiteral("/Embedding")}));
        EXPECT_EQ(modals, 0);
        EXPECT_TRUE(dialogs.shown().empty());
        EXPECT_FALSE(app.frame()->isVisible());
        EXPECT_TRUE(raiseFromAnotherThread(options.instanceName));
        QApplication::processEvents();
        EXPECT_FALSE(app.frame()->isVisible());
        app.frame()->close();
    }
    {
        options.unattended = false;
        options.instanceName = uniqueName("attended");
        DialscopeApp app(options);
        EXPECT_FALSE(app.Start({QStringLiteral("/Embedding")})); // the password window, closed: refused
        EXPECT_EQ(modals, 1);
    }
}

TEST(AboutBox, NamesTheProgramAndItsVersion) {
    AboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Dialscope..."));
    EXPECT_EQ(about.text(), QStringLiteral("Dialscope version 5.20"));
}

TEST(DialscopeApp, StartRecordsTheInstanceAndASecondStartRaisesIt) {
    ScriptedDialogService dialogs;
    tel::ScriptedTelephony telephony;
    ScriptedFrameDialogs frameDialogs;
    DialscopeApp::Options options;
    options.dialogs = &dialogs;
    options.telephony = &telephony;
    options.frameDialogs = &frameDialogs;
    options.instanceName = uniqueName("app");
    options.showWindow = false;
    DialscopeApp app(options);
    ASSERT_TRUE(app.Start({QStringLiteral("/automation")}));
    ASSERT_NE(app.frame(), nullptr);
    EXPECT_EQ(QString::fromStdString(app.store().className()), options.instanceName);
    EXPECT_TRUE(dialogs.shown().empty()); // no password stored: nothing asked

    app.frame()->showMinimized();
    EXPECT_TRUE(raiseFromAnotherThread(options.instanceName));
    EXPECT_FALSE(app.frame()->isMinimized());
    EXPECT_TRUE(app.frame()->isVisible());
    app.frame()->close();
}
