#include "app/DialscopeApp.h"

#include "app/AboutDialog.h"
#include "app/SplashWindow.h"
#include "app/StartupTrace.h"
#include "app/core/AppStore.h"
#include "app/core/ChannelTable.h"
#include "app/core/SingleInstance.h"
#include "app/core/StartupSwitches.h"
#include "app/ui/PasswordCommands.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipRecovery.h"
#include "clips/core/QueuedCatalogPost.h"
#include "link/CodecDecompressorFactory.h"
#include "mainwnd/MainFrame.h"
#include "mainwnd/QtFrameDialogs.h"
#include "platform/dialogs/QtDialogService.h"
#include "platform/log/DialscopeLog.h"
#include "platform/telephony/HayesTelephony.h"

#include <QApplication>
#include <QTimer>

namespace {

// Long enough for the window system's answer to the first activation to
// arrive, short enough to go unnoticed.
constexpr int kReactivateMs = 100;
constexpr int kReactivateTries = 10;

} // namespace

DialscopeApp::DialscopeApp()
    : DialscopeApp(Options{}) {}

DialscopeApp::DialscopeApp(Options options)
    : m_options(std::move(options))
    , m_store(std::make_unique<AppStore>())
    , m_channels(std::make_unique<ChannelTable>())
    , m_clips(std::make_unique<ClipIndex>(m_store->userStore(), *m_channels))
    , m_decompressors(std::make_unique<CodecDecompressorFactory>()) {
    if (!m_options.dialogs) {
        m_ownedDialogs = std::make_unique<QtDialogService>();
        m_options.dialogs = m_ownedDialogs.get();
    }
    if (m_options.instanceName.isEmpty())
        m_options.instanceName = SingleInstance::defaultName();
}

DialscopeApp::~DialscopeApp() {
    // The main window (and the connection it owns) goes before the services
    // and stores it works with.
    m_recovery.reset();
    m_frame.reset();
}

bool DialscopeApp::Start(const QStringList& arguments) {
    SplashWindow::SetEnabled(splashWanted(arguments));

    // Another instance comes forward; this one shows nothing and ends.
    if (SingleInstance::raiseRunning(QString::fromStdString(m_store->className())))
        return false;

    if (!m_options.unattended && !StartupPasswordCheck(*m_store, *m_options.dialogs))
        return false;
    StartupTrace::mark("store and instance check");

    if (!m_options.telephony) {
        m_ownedTelephony = std::make_unique<tel::HayesTelephony>();
        m_options.telephony = m_ownedTelephony.get();
    }
    if (!m_options.frameDialogs) {
        m_ownedFrameDialogs = std::make_unique<QtFrameDialogs>(*m_store, *m_clips, *m_options.dialogs);
        m_options.frameDialogs = m_ownedFrameDialogs.get();
    }

    MainFrame::Environment env{*m_store,
                               *m_channels,
                               *m_clips,
                               *m_options.dialogs,
                               *m_options.telephony,
                               *m_decompressors,
                               *m_options.frameDialogs,
                               *this,
                               {}};
    m_callLog = std::make_unique<CallLog>(CallLog::defaultPath());
    env.callLog = m_callLog.get();
    StartupTrace::mark("main window to build");
    m_frame = std::make_unique<MainFrame>(std::move(env));
    StartupTrace::watch(m_frame.get());
    StartupTrace::mark("main window built");
    m_frame->Start();
    StartupTrace::mark("main window started");
    // Clips a crash left without an entry are listed again; the search runs
    // on a worker, so a slow record folder never holds up the window.
    m_recovery = std::make_unique<ClipRecoveryTask>(*m_clips, m_store->storedRecordPath(),
                                                    &AppStore::resolveRecordPath);

    m_instance = std::make_unique<SingleInstance>();
    QObject::connect(m_instance.get(), &SingleInstance::raiseRequested, m_frame.get(), [this] {
        if (m_options.unattended)
            qCWarning(lcApp)
                << "an unattended run shows no window; start the program again when it has ended";
        else
            raiseMainWindow();
    });
    if (m_instance->listen(m_options.instanceName))
        m_store->setClassName(m_options.instanceName.toStdString());

    StartupTrace::mark("instance server up");
    if (m_options.showWindow && !m_options.unattended) {
        m_frame->showMaximized();
        m_frame->repaint();
    }
    // The clips browser opens on the catalog of the clip index; it is read
    // in the background meanwhile, and reaches the browser by a queued call.
    ensureQueuedCatalogPost(*m_clips);
    m_clips->prepareCatalog();
    return true;
}

void DialscopeApp::raiseMainWindow() {
    if (!m_frame)
        return;
    if (m_frame->isMinimized())
        m_frame->setWindowState(m_frame->windowState() & ~Qt::WindowMinimized);
    m_frame->show();
    m_frame->raise();
    QWidget* front = QApplication::activeModalWidget();
    if (!front)
        front = m_frame.get();
    front->raise();
    front->activateWindow();
    // The request came over a socket, not with an input event, so the
    // window system may see the activation as older than the focus change
    // it must override, and ignore it. The first request stamps the window
    // (a property change, whose notice carries the server's current time);
    // asked again once that notice is in, the activation is current.
    activateAgain(front, kReactivateTries);
}

void DialscopeApp::activateAgain(QWidget* window, int tries) {
    // The window as context: a window closed meanwhile cancels the retry.
    QTimer::singleShot(kReactivateMs, window, [window, tries] {
        if (window->isActiveWindow() || tries <= 0)
            return;
        window->activateWindow();
        activateAgain(window, tries - 1);
    });
}

void DialscopeApp::onAppAbout() {
    AboutDialog dialog(m_frame.get());
    dialog.exec();
}

void DialscopeApp::onAppExit() {
    if (m_frame)
        m_frame->close();
}

void DialscopeApp::onSetupPassword() {
    runSetupPasswordCommand(m_frame.get(), *m_store, *m_options.dialogs);
}

void DialscopeApp::ShowSplash(QWidget* parent) {
    SplashWindow::Show(parent);
}
