#include "mainwnd/MainFrame.h"

#include "app/core/AppStore.h"
#include "app/core/ChannelTable.h"
#include "clips/core/ClipRecorder.h"
#include "clips/core/ClipWriterThread.h"
#include "connect/NetworkModemList.h"
#include "connect/RemoteControlCommand.h"
#include "mainwnd/HelpWindow.h"
#include "mainwnd/ProgramFiles.h"
#include "mainwnd/StatusPanes.h"
#include "mainwnd/VolumeProbe.h"
#include "platform/dialogs/DialogService.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "unattended/UnattendedSettings.h"
#include "video/ui/VideoViewArea.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <utility>

namespace {

constexpr int kRefreshMs = 200;

QPixmap Picture(const QString& name, int width = 16, int height = 16) {
    return QIcon(QStringLiteral(":/images/") + name).pixmap(width, height);
}

} // namespace

MainFrame::MainFrame(Environment env, QWidget* parent)
    : QMainWindow(parent)
    , m_env(std::move(env))
    , m_connectionStore(m_env.store)
    , m_disk(m_env.store.limitDiskSpace(), m_env.store.checkTimer())
    , m_alarm(findProgramFile(QStringLiteral("alarm.wav"),
                              m_env.fileFolders.isEmpty() ? programFileFolders() : m_env.fileFolders)) {
    setWindowTitle(loadString(IDS_APP_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/images/app.svg")));
    setObjectName(QStringLiteral("MainFrame"));

    m_view = new VideoViewArea(*this, this);
    m_view->setObjectName(QStringLiteral("viewArea"));
    setCentralWidget(m_view);
    m_view->installEventFilter(this);

    createActions();
    createMenus();
    createToolBars();
    createStatusBar();

    auto port = std::make_unique<CommPort>(m_env.dialogs, m_connectionStore, m_env.channels,
                                           m_env.decompressors, m_env.portOptions);
    m_port = port.get();
    m_port->attachMainWindow(this, m_view, this);
    m_lines =
        std::make_unique<LineManager>(m_env.telephony, std::move(port), *this, *this, m_env.lineTimings);
    m_dialStatus = std::make_unique<DialStatusDialogFactory>(this, *m_lines);
    m_reconnect = std::make_unique<Reconnector>(*m_lines, *m_port, m_connectionStore, *this);
    PatrolRunner::Options patrolOptions;
    patrolOptions.recordFolder = [this] {
        return m_env.store.storedRecordPath();
    };
    patrolOptions.resolveFolder = &AppStore::resolveRecordPath;
    m_patrol = std::make_unique<PatrolRunner>(*m_lines, *m_port, m_env.channels, std::move(patrolOptions));
    m_patrol->setFinished([this](const PatrolReport& report) {
        refreshCommandStates();
        emit patrolFinished(report.allReached());
    });
    m_lines->setCallEndObserver([this](const CallEnd& end) {
        m_reconnect->onCallEnd(end);
        m_patrol->onCallEnd(end);
    });
    m_port->setFrameObserver(
        [this](int32_t channel, std::span<const uint8_t> picture) { m_patrol->onFrame(channel, picture); },
        [this](int32_t channel) { return m_patrol->wantsFrame(channel); });
    applyUnattendedSettings();
    m_patrolSettings = PatrolSettings::read(m_env.store);
    m_patrolLast = QDateTime::currentDateTime();
    m_patrolTimer.setInterval(30000);
    connect(&m_patrolTimer, &QTimer::timeout, this, &MainFrame::checkPatrolSchedule);
    m_patrolTimer.start();
    createCallViews();

    m_diskTimer.setObjectName(QStringLiteral("diskTimer"));
    connect(&m_diskTimer, &QTimer::timeout, this, &MainFrame::checkDiskSpace);
    m_watchdogTimer.setSingleShot(true);
    connect(&m_watchdogTimer, &QTimer::timeout, this, [this] { m_lines->OnAnswerWatchdog(); });
    // Line and port states change inside the telephony service's callbacks
    // and the connection timer; the actions follow them on this idle tick.
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainFrame::refreshCommandStates);
    m_refreshTimer.start();
    refreshCommandStates();
}

MainFrame::~MainFrame() {
    m_callTimer.stop();
    m_refreshTimer.stop();
    m_diskTimer.stop();
    if (m_waitingCommand)
        QApplication::restoreOverrideCursor();
    m_retention.reset(); // stops a running pass and waits for it
    m_patrolTimer.stop();
    m_patrol.reset();
    m_reconnect.reset();
    // The line control (and the connection with it) goes before the view
    // area, so every channel window is closed while its parent still exists.
    m_lines.reset();
}

void MainFrame::Start() {
    m_env.app.ShowSplash(this);
    m_modemPane->setText(loadString(IDS_LOOKING_FOR_MODEMS));
    m_networkModems = NetworkModemList::load(m_env.store).entries();
    m_env.telephony.setNetworkModems(m_networkModems);
    m_lines->discover(m_env.store.modem(), [this] { onModemsFound(); });
    requestDiskPane();
    m_diskTimer.start(m_disk.intervalMs());
    refreshCommandStates();
}

// ---- Commands ----

QAction* MainFrame::makeAction(CommandId id, const QString& text, const QString& icon) {
    auto* action = new QAction(text, this);
    const QStringList prompt = loadString(stringIdOf(id)).split(QLatin1Char('\n'));
    if (!prompt.isEmpty() && !prompt.front().isEmpty()) {
        action->setStatusTip(prompt.front());
        action->setToolTip(prompt.size() > 1 ? prompt.at(1) : prompt.front());
    }
    if (!icon.isEmpty())
        action->setIcon(QIcon(QStringLiteral(":/images/") + icon));
    action->setData(commandNumber(id));
    connect(action, &QAction::triggered, this, [this, id] { executeCommand(id); });
    m_actions[id] = action;
    return action;
}

void MainFrame::createActions() {
    makeAction(CommandId::Connect, tr("&Connect to local site"), QStringLiteral("tb_connect.svg"));
    makeAction(CommandId::HangUp, tr("&Hang up"), QStringLiteral("tb_hangup.svg"));
    makeAction(CommandId::Listen, tr("&Listen"), QStringLiteral("tb_listen.svg"));
    makeAction(CommandId::PhoneBook, tr("Setup &phone book"), QStringLiteral("tb_phonebook.svg"));
    makeAction(CommandId::SelectModem, tr("Select &modem"), QStringLiteral("tb_modem.svg"));
    makeAction(CommandId::OpenChannel, tr("&Open local site video channel"),
               QStringLiteral("tb_openchannel.svg"));
    makeAction(CommandId::VideoWindow, tr("&Video window"), QStringLiteral("tb_videowindow.svg"));
    makeAction(CommandId::Arrange, tr("&Arrange video window"), QStringLiteral("popup_tile.svg"));
    makeAction(CommandId::ChangeSize, tr("&Change video size"), QStringLiteral("popup_overlap.svg"))
        ->setCheckable(true);
    QAction* bars = makeAction(CommandId::Toolbar, tr("&Toolbar"));
    bars->setCheckable(true);
    bars->setShortcut(QKeySequence(Qt::Key_Escape));
    bars->setShortcutContext(Qt::WindowShortcut);
    makeAction(CommandId::EventNotify, tr("Browse &event notify"));
    makeAction(CommandId::Playback, tr("&Playback video"), QStringLiteral("tb_playback.svg"));
    makeAction(CommandId::Options, tr("&Options"));
    makeAction(CommandId::RecordPath, tr("Setup video &record path"), QStringLiteral("tb_recordpath.svg"));
    makeAction(CommandId::SetupPassword, tr("Setup pass&word"), QStringLiteral("tb_password.svg"));
    makeAction(CommandId::StopAlarm, tr("&Stop sound alarm"), QStringLiteral("tb_stopalarm.svg"));
    makeAction(CommandId::Help, tr("Online &help"));
    makeAction(CommandId::AppAbout, tr("&About Dialscope ..."));
    makeAction(CommandId::AppExit, tr("E&xit"), QStringLiteral("tb_exit.svg"));
    // commands of unattended operation take their prompts from their own strings.
    const std::pair<CommandId, StringId> prompts[] = {
        {CommandId::Unattended, IDS_CMD_UNATTENDED},      {CommandId::PatrolSetup, IDS_CMD_PATROL_SETUP},
        {CommandId::PatrolRun, IDS_CMD_PATROL_RUN},       {CommandId::PatrolStop, IDS_CMD_PATROL_STOP},
        {CommandId::PatrolReport, IDS_CMD_PATROL_REPORT}, {CommandId::NetworkModems, IDS_CMD_NETWORK_MODEMS}};
    makeAction(CommandId::Unattended, tr("&Unattended operation"));
    makeAction(CommandId::PatrolSetup, tr("&Edit site patrol"));
    makeAction(CommandId::PatrolRun, tr("&Run now"));
    makeAction(CommandId::PatrolStop, tr("&Stop"));
    makeAction(CommandId::PatrolReport, tr("&Patrol report"));
    makeAction(CommandId::NetworkModems, tr("&Network modems..."));
    for (const auto& [id, text] : prompts) {
        const QStringList prompt = loadString(text).split(QLatin1Char('\n'));
        action(id)->setStatusTip(prompt.front());
        action(id)->setToolTip(prompt.back());
    }
    // Remote control has a key only: no menu item, no button.
    QAction* remote = makeAction(CommandId::RemoteControl, QString());
    remote->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F10));
    remote->setShortcutContext(Qt::WindowShortcut);
    addAction(remote);
    // Commands the connection posts have no menu item; they go through the
    // table like the rest (ExecuteCommand), without an action.
}

void MainFrame::createMenus() {
    QMenuBar* bar = menuBar();
    QMenu* connectMenu = bar->addMenu(tr("&Connect"));
    connectMenu->addAction(action(CommandId::Connect));
    connectMenu->addAction(action(CommandId::HangUp));
    connectMenu->addAction(action(CommandId::Listen));
    connectMenu->addSeparator();
    connectMenu->addAction(action(CommandId::PhoneBook));
    connectMenu->addSeparator();
    connectMenu->addAction(action(CommandId::SelectModem));
    connectMenu->addAction(action(CommandId::NetworkModems));

    QMenu* channelMenu = bar->addMenu(tr("&Video channel"));
    m_channelMenu = channelMenu;
    channelMenu->addAction(action(CommandId::OpenChannel));
    channelMenu->addSeparator();
    channelMenu->addAction(action(CommandId::Arrange));
    channelMenu->addSeparator();
    channelMenu->addAction(action(CommandId::ChangeSize));

    QMenu* viewMenu = bar->addMenu(tr("V&iew"));
    m_viewMenu = viewMenu;
    viewMenu->addAction(action(CommandId::Toolbar));
    viewMenu->addSeparator();
    viewMenu->addAction(action(CommandId::EventNotify));
    viewMenu->addAction(action(CommandId::PatrolReport));

    QMenu* clipsMenu = bar->addMenu(tr("Video c&lips"));
    clipsMenu->addAction(action(CommandId::Playback));

    QMenu* setupMenu = bar->addMenu(tr("&Setup"));
    setupMenu->addAction(action(CommandId::Options));
    setupMenu->addSeparator();
    setupMenu->addAction(action(CommandId::RecordPath));
    setupMenu->addSeparator();
    setupMenu->addAction(action(CommandId::SetupPassword));
    setupMenu->addSeparator();
    setupMenu->addAction(action(CommandId::Unattended));
    QMenu* patrolMenu = setupMenu->addMenu(tr("Site p&atrol"));
    patrolMenu->setObjectName(QStringLiteral("patrolMenu"));
    patrolMenu->addAction(action(CommandId::PatrolSetup));
    patrolMenu->addAction(action(CommandId::PatrolRun));
    patrolMenu->addAction(action(CommandId::PatrolStop));
    connect(patrolMenu, &QMenu::aboutToShow, this, &MainFrame::refreshCommandStates);

    QMenu* aboutMenu = bar->addMenu(tr("&About"));
    aboutMenu->addAction(action(CommandId::Help));
    aboutMenu->addSeparator();
    aboutMenu->addAction(action(CommandId::AppAbout));

    // The top-level item shows its text; the toolbar button shares the command.
    bar->addAction(tr("E&xit"), this, [this] { executeCommand(CommandId::AppExit); });

    for (QMenu* menu : {connectMenu, channelMenu, viewMenu, clipsMenu, setupMenu, aboutMenu})
        connect(menu, &QMenu::aboutToShow, this, &MainFrame::refreshCommandStates);

    // The Video window button's pop-up: the two picture items.
    m_videoWindowMenu = new QMenu(this);
    m_videoWindowMenu->setObjectName(QStringLiteral("videoWindowMenu"));
    m_videoWindowMenu->addAction(QIcon(QStringLiteral(":/images/popup_tile.svg")), QString(), this,
                                 [this] { executeCommand(CommandId::Arrange); });
    m_videoWindowMenu->addSeparator();
    m_videoWindowMenu->addAction(QIcon(QStringLiteral(":/images/popup_overlap.svg")), QString(), this,
                                 [this] { executeCommand(CommandId::ChangeSize); });
    m_videoWindowMenu->setStyleSheet(QStringLiteral("QMenu { icon-size: 48px; }"));
}

void MainFrame::createToolBars() {
    m_toolBar = new QToolBar(tr("Toolbar"), this);
    m_toolBar->setObjectName(QStringLiteral("toolBar115"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(28, 28));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const std::initializer_list<CommandId> groups[] = {
        {CommandId::Connect, CommandId::HangUp, CommandId::PhoneBook},
        {CommandId::StopAlarm},
        {CommandId::Listen, CommandId::SelectModem},
        {CommandId::OpenChannel, CommandId::VideoWindow},
        {CommandId::Playback},
        {CommandId::RecordPath},
        {CommandId::SetupPassword},
        {CommandId::AppExit}};
    bool first = true;
    for (const auto& group : groups) {
        if (!first)
            m_toolBar->addSeparator();
        first = false;
        for (const CommandId id : group) {
            m_toolBar->addAction(action(id));
            if (QWidget* button = m_toolBar->widgetForAction(action(id)))
                button->setFixedSize(kToolButtonWidth, kToolButtonHeight);
        }
    }
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    // The link's status strip, on a row of its own under the toolbar.
    addToolBarBreak(Qt::TopToolBarArea);
    m_stripBar = new QToolBar(tr("Status line"), this);
    m_stripBar->setObjectName(QStringLiteral("statusStrip115"));
    m_stripBar->setMovable(false);
    m_stripBar->setFloatable(false);
    m_stripBar->toggleViewAction()->setVisible(false);
    m_statusText = new QLabel(loadString(IDS_STATUS_DISCONNECT), m_stripBar);
    m_statusText->setObjectName(QStringLiteral("control1001"));
    m_statusText->setMinimumWidth(m_statusText->fontMetrics().averageCharWidth() * 80);
    m_statusText->setContentsMargins(6, 1, 6, 1);
    m_stripBar->addWidget(m_statusText);
    addToolBar(Qt::TopToolBarArea, m_stripBar);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void MainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    const int charWidth = fontMetrics().averageCharWidth();
    m_promptPane = new QLabel(loadString(IDS_READY), bar);
    m_promptPane->setObjectName(QStringLiteral("pane0"));
    bar->addWidget(m_promptPane, 1);
    m_diskPane = new BitmapPane(32, Picture(QStringLiteral("status_disk.svg")), bar);
    m_diskPane->setObjectName(QStringLiteral("pane1"));
    bar->addPermanentWidget(m_diskPane);
    m_diskText = new QLabel(bar);
    m_diskText->setObjectName(QStringLiteral("pane2"));
    m_diskText->setFixedWidth(20 * charWidth);
    bar->addPermanentWidget(m_diskText);
    m_phonePane = new BitmapPane(16, Picture(QStringLiteral("status_phone.svg")), bar);
    m_phonePane->setObjectName(QStringLiteral("pane3"));
    bar->addPermanentWidget(m_phonePane);
    m_modemPane = new QLabel(bar);
    m_modemPane->setObjectName(QStringLiteral("pane4"));
    m_modemPane->setFixedWidth(50 * charWidth);
    bar->addPermanentWidget(m_modemPane);
}

QAction* MainFrame::action(CommandId id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

FrameState MainFrame::currentState() const {
    FrameState state;
    state.lineOpen = m_lines->isLineOpen();
    state.callPresent = m_lines->hasCall();
    state.deviceCount = m_lines->deviceCount();
    state.portOpen = m_port->IsOpen();
    state.mayOpen = m_port->mayOpenChannels();
    state.channelsListed = !m_env.channels.empty();
    state.windowCount = m_port->WindowCount();
    state.sizeMode = m_sizeMode;
    state.barsShown = m_barsShown;
    state.alarmPlaying = m_alarmPlaying;
    state.discovering = m_lines->isDiscovering();
    state.redialPending = m_reconnect && m_reconnect->pending();
    state.patrolRunning = m_patrol && m_patrol->running();
    return state;
}

void MainFrame::refreshCommandStates() {
    if (!m_lines)
        return;
    const FrameState state = currentState();
    for (const auto& [id, action] : m_actions) {
        action->setEnabled(isCommandEnabled(id, state));
        if (action->isCheckable())
            action->setChecked(isCommandChecked(id, state));
    }
    refreshViewActions();
}

void MainFrame::onModemsFound() {
    m_modemPane->setText(m_lines->lineName());
    const std::optional<CommandId> waiting = std::exchange(m_waitingCommand, std::nullopt);
    if (waiting)
        QApplication::restoreOverrideCursor();
    refreshCommandStates();
    emit modemsFound();
    if (waiting)
        executeCommand(*waiting);
    m_networkRetried = false;
}

bool MainFrame::executeCommand(CommandId id) {
    if (!m_lines || m_closing)
        return false;
    const FrameState state = currentState();
    if (state.discovering && commandWaitsForModems(id) && isCommandEnabled(id, state)) {
        // The latest such command wins; the window stays live meanwhile.
        if (!m_waitingCommand)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        m_waitingCommand = id;
        return true;
    }
    const bool done = dispatchFrameCommand(id, state, *this);
    refreshCommandStates();
    return done;
}

void MainFrame::onPostedCommand(CommandId command) {
    executeCommand(command);
}

// ---- Connection ----

void MainFrame::onConnect() {
    m_lines->DropCall();
    const std::optional<QString> number = m_env.frameDialogs.runConnect(this);
    if (!number)
        return;
    m_reconnect->noteOperatorDial(*number);
    if (!m_lines->isLineOpen())
        m_lines->ResetLine();
    m_lines->Dial(*number);
}

void MainFrame::onHangUp() {
    // With only a redial waiting there is no call to end: the line listens on.
    if (m_reconnect->cancel() && !m_lines->hasCall()) {
        SetStatusText(loadString(IDS_STATUS_DISCONNECT));
        return;
    }
    m_lines->ResetLine();
}

// A reopened line answers incoming calls.
void MainFrame::onListen() {
    if (retryNetworkModems(std::nullopt))
        return; // the line opens once the modems are found
    m_lines->ResetLine();
}

bool MainFrame::retryNetworkModems(std::optional<CommandId> command) {
    if (std::exchange(m_networkRetried, false) || !m_env.telephony.hasUnansweredNetworkModems())
        return false;
    // No call is up (both commands need that): the line closes while every
    // port is probed, so no probe talks to the open modem.
    m_lines->Shutdown();
    m_modemPane->setText(loadString(IDS_LOOKING_FOR_MODEMS));
    m_lines->discover(m_lines->chosenDevice(), [this] { onModemsFound(); });
    if (command) {
        m_networkRetried = true;
        if (!m_waitingCommand)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        m_waitingCommand = command;
    }
    refreshCommandStates();
    return true;
}

bool MainFrame::applyNetworkModems(int device) {
    const std::vector<std::string> stored = NetworkModemList::load(m_env.store).entries();
    if (stored == m_networkModems)
        return false;
    m_networkModems = stored;
    m_env.telephony.setNetworkModems(m_networkModems);
    m_lines->Shutdown();
    m_modemPane->setText(loadString(IDS_LOOKING_FOR_MODEMS));
    m_lines->discover(device, [this] { onModemsFound(); });
    refreshCommandStates();
    return true;
}

void MainFrame::onSelectModem() {
    runModemChoice(CommandId::SelectModem);
}

// The same dialog: with no device yet, only its network modem list is of use.
void MainFrame::onNetworkModems() {
    runModemChoice(CommandId::NetworkModems);
}

void MainFrame::runModemChoice(CommandId command) {
    if (retryNetworkModems(command))
        return; // runs again once the modems are found
    QStringList names;
    for (int device = 0; device < m_lines->deviceCount(); ++device)
        names.append(m_lines->GetLineName(device));
    const std::optional<int> chosen =
        m_env.frameDialogs.runSelectModem(this, names, m_lines->chosenDevice(), *m_lines);
    // A changed network modem list: the modems are looked for again, and the
    // chosen device (or the next modem after it) is used when they are found.
    if (applyNetworkModems(chosen.value_or(m_lines->chosenDevice()))) {
        if (chosen)
            m_env.store.SetSetting(AppStore::kModem, *chosen);
        return;
    }
    if (!chosen)
        return;
    if (*chosen != m_lines->chosenDevice())
        m_lines->Reinitialize(*chosen);
    m_modemPane->setText(m_lines->lineName());
    m_env.store.SetSetting(AppStore::kModem, *chosen);
}

void MainFrame::onOpenChannel() {
    // A patrol opens its channels itself; the site's prompt asks no one then.
    if (!m_port->IsOpen() || m_patrol->running())
        return;
    if (const std::optional<int32_t> channel = m_env.frameDialogs.runChannelChoice(this, m_env.channels))
        m_port->requestOpenChannel(*channel);
}

void MainFrame::onRemoteControl() {
    RemoteControlPrompts prompts;
    prompts.choose = [this] {
        return m_env.frameDialogs.runRemoteControl(this);
    };
    prompts.commandLine = [this] {
        return m_env.frameDialogs.runCommandLine(this);
    };
    runRemoteControl(m_lines->isConnected(), m_port, prompts);
}

void MainFrame::onLoginError() {
    if (m_patrol->running()) { // unattended: the report says it, no message waits for a person
        m_patrol->onLoginRejected();
        return;
    }
    m_reconnect->cancel();
    m_lines->ResetLine();
    m_env.dialogs.notice(this, loadString(IDP_LOGIN_ERROR));
}

void MainFrame::onCompressionError() {
    m_lines->DropCall();
    m_env.dialogs.notice(this, loadString(IDP_COMPRESSION_ERROR));
}

void MainFrame::startAnswerWatchdog(int ms) {
    m_watchdogTimer.start(ms);
}

void MainFrame::stopAnswerWatchdog() {
    m_watchdogTimer.stop();
}

std::unique_ptr<DialStatusWindow> MainFrame::openDialStatus(const QString& number, const QString& status) {
    return m_dialStatus->openDialStatus(number, status);
}

void MainFrame::SetStatusText(const QString& text) {
    m_statusText->setText(text);
}

// ---- Video windows ----

void MainFrame::onVideoWindow() {
    QWidget* button = m_toolBar->widgetForAction(action(CommandId::VideoWindow));
    const QPoint at = button && button->isVisible() ? button->mapToGlobal(QPoint(0, button->height()))
                                                    : mapToGlobal(QPoint(0, 0));
    m_videoWindowMenu->popup(at);
}

void MainFrame::onChangeSize() {
    m_sizeMode = !m_sizeMode;
}

void MainFrame::arrangeWindows() {
    m_port->ArrangeWindows();
}

void MainFrame::onToolbar() {
    m_barsShown = !m_barsShown;
    m_toolBar->setVisible(m_barsShown);
    m_stripBar->setVisible(m_barsShown);
    statusBar()->setVisible(m_barsShown);
    // The arrange applies the flag to every channel window as well.
    m_port->ArrangeWindows();
}

bool MainFrame::isMaximized() const {
    return QMainWindow::isMaximized();
}

void MainFrame::maximize() {
    showMaximized();
    // The window system applies the new size later; the tiling that asked
    // for it is done again once the view area has its new size.
    m_arrangeAfterResize = true;
}

bool MainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view && event->type() == QEvent::Resize && m_arrangeAfterResize) {
        m_arrangeAfterResize = false;
        QTimer::singleShot(0, this, [this] {
            if (m_port)
                m_port->ArrangeWindows();
        });
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Channel windows ----

std::string MainFrame::channelName(int32_t channel) const {
    return m_env.channels.GetChannelName(channel);
}

ChannelControl& MainFrame::Control() {
    return *m_port;
}

std::unique_ptr<ClipRecorder> MainFrame::createRecorder() {
    ClipRecorder::Environment environment;
    AppStore& store = m_env.store;
    // Only the stored text is read here; the folder is looked at on the
    // writer thread, so a hung record volume never holds up this thread.
    environment.recordPath = [&store] {
        return store.storedRecordPath();
    };
    environment.resolveFolder = &AppStore::resolveRecordPath;
    // One writer thread for every recording, made with the first one; each
    // recorder keeps it alive until its last clip is complete.
    if (!m_clipWriter)
        m_clipWriter = std::make_shared<ClipWriterThread>();
    environment.writer = m_clipWriter;
    return std::make_unique<ClipRecorder>(m_env.clips, std::move(environment));
}

DialogService& MainFrame::dialogs() {
    return m_env.dialogs;
}

// ---- Alarm ----

void MainFrame::startAlarm() {
    if (m_alarmPlaying)
        return;
    m_alarmPlaying = m_alarm.play();
    refreshCommandStates();
}

void MainFrame::onStopAlarm() {
    m_alarmPlaying = false;
    m_alarm.Stop();
}

// ---- Disk space ----

void MainFrame::checkDiskSpace() {
    // The volume is read on the probe's thread; the check runs when the
    // reading is back, so a hung volume delays the pane, never the window.
    m_volume.request(m_env.store.storedRecordPath(), [this](const VolumeProbe::Reading& reading) {
        m_volumeReading = reading;
        ++m_diskReadings;
        if (m_disk.thresholdMB() != 0 && m_disk.check(reading.freeMB))
            m_env.dialogs.notice(this, loadString(IDP_DISK_SPACE_LOW));
        refreshDiskPane();
    });
    startRetention();
}

void MainFrame::requestDiskPane() {
    m_volume.request(m_env.store.storedRecordPath(), [this](const VolumeProbe::Reading& reading) {
        m_volumeReading = reading;
        ++m_diskReadings;
        refreshDiskPane();
    });
}

bool MainFrame::startRetention() {
    if (!m_retention || (!m_unattended.retentionFreeSpace && m_unattended.retentionDays == 0))
        return false;
    RetentionRequest request;
    request.storePath = m_env.store.userStore().filePath();
    request.recordFolder = m_env.store.storedRecordPath();
    request.resolveFolder = &AppStore::resolveRecordPath;
    request.freeSpaceRule = m_unattended.retentionFreeSpace;
    request.limitBytes = uint64_t(m_disk.thresholdMB()) << 20;
    request.maxAgeDays = m_unattended.retentionDays;
    request.now = std::time(nullptr);
    return m_retention->Start(std::move(request));
}

void MainFrame::refreshDiskPane() {
    m_diskText->setText(loadString(IDS_DISK_FREE)
                            .arg(m_volumeReading.freeMB)
                            .arg(QString::fromStdString(m_volumeReading.mountPoint)));
    m_diskText->setToolTip(m_diskText->text());
    // As wide as its text ("12345 MB Free on /home/operator/clips-volume"),
    // never narrower than before nor wider than 80 characters (the tooltip
    // holds the whole text).
    const QFontMetrics metrics = m_diskText->fontMetrics();
    const QMargins margins = m_diskText->contentsMargins();
    const int text = metrics.horizontalAdvance(m_diskText->text()) + margins.left() + margins.right() + 8;
    m_diskText->setFixedWidth(
        std::clamp(text, 20 * metrics.averageCharWidth(), 80 * metrics.averageCharWidth()));
    if (m_disk.below())
        m_diskPane->setDot(
            Picture(m_disk.blinkPhase() ? QStringLiteral("dot_large.svg") : QStringLiteral("dot_small.svg")));
    else
        m_diskPane->setDot(QPixmap());
}

void MainFrame::diskWatchChanged(uint32_t thresholdMB, uint32_t checkSeconds) {
    m_disk.reconfigure(thresholdMB, checkSeconds);
    m_diskTimer.start(m_disk.intervalMs());
}

void MainFrame::recordFolderChanged() {
    requestDiskPane();
}

// ---- Dialogs ----

void MainFrame::onPhoneBook() {
    m_env.frameDialogs.runPhoneBook(this);
}

void MainFrame::onEventNotify() {
    m_env.frameDialogs.runEventNotify(this);
}

void MainFrame::onPlayback() {
    m_env.frameDialogs.runClipBrowser(this);
}

void MainFrame::onOptions() {
    m_env.frameDialogs.runOptions(this, *this);
}

void MainFrame::onRecordPath() {
    m_env.frameDialogs.runRecordPath(this, *this);
}

void MainFrame::onSetupPassword() {
    m_env.app.onSetupPassword();
}

void MainFrame::onAbout() {
    m_env.app.onAppAbout();
}

void MainFrame::onUnattended() {
    if (m_env.frameDialogs.runUnattended(this))
        applyUnattendedSettings();
}

void MainFrame::applyUnattendedSettings() {
    m_unattended = UnattendedSettings::read(m_env.store);
    m_reconnect->configure(m_unattended.reconnect, m_unattended.reconnectAttempts);
}

void MainFrame::onPatrolSetup() {
    if (!m_env.frameDialogs.runPatrolSetup(this))
        return;
    m_patrolSettings = PatrolSettings::read(m_env.store);
    m_patrolLast = QDateTime::currentDateTime(); // the schedule counts from now
}

void MainFrame::onPatrolRun() {
    startPatrol();
}

void MainFrame::onPatrolStop() {
    m_patrol->Stop();
}

void MainFrame::onPatrolReport() {
    m_env.frameDialogs.showPatrolReport(this, m_env.store.storedRecordPath());
}

bool MainFrame::startPatrol(const QStringList& names) {
    if (m_patrol->running())
        return false;
    m_patrolSettings = PatrolSettings::read(m_env.store);
    QStringList missing;
    std::vector<PatrolSite> sites =
        patrolSitesFromPhoneBook(m_env.store, names.isEmpty() ? m_patrolSettings.entries : names, &missing);
    for (const QString& name : missing)
        qWarning("patrol: no phone-book entry named \"%s\"", qPrintable(name));
    // The patrol's calls are its own: none of them is redialled.
    m_reconnect->forgetNumber();
    m_patrol->setRecordSeconds(m_patrolSettings.recordSeconds);
    m_patrolLast = QDateTime::currentDateTime();
    const bool started = m_patrol->Start(std::move(sites));
    refreshCommandStates();
    return started;
}

void MainFrame::checkPatrolSchedule() {
    const std::optional<QDateTime> due = PatrolSchedule::nextRound(m_patrolSettings, m_patrolLast);
    if (!due || QDateTime::currentDateTime() < *due)
        return;
    // Only on a free, listening line; otherwise the next check tries again.
    if (isCommandEnabled(CommandId::PatrolRun, currentState()))
        startPatrol();
}

void MainFrame::onExit() {
    m_env.app.onAppExit();
}

void MainFrame::onHelp() {
    const QString path = findProgramFile(
        QStringLiteral("DScope.Hlp"), m_env.fileFolders.isEmpty() ? programFileFolders() : m_env.fileFolders);
    if (!m_help)
        m_help = new HelpWindow(this);
    if (path.isEmpty() || !m_help->showContents(path))
        m_env.dialogs.notice(this, loadString(IDP_HELP_NOT_FOUND));
}

// ---- Panes and closing ----

QString MainFrame::promptText() const {
    return m_promptPane->text();
}
QString MainFrame::diskText() const {
    return m_diskText->text();
}
QString MainFrame::modemText() const {
    return m_modemPane->text();
}

bool MainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_promptPane->setText(tip.isEmpty() ? loadString(IDS_READY) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void MainFrame::closeEvent(QCloseEvent* event) {
    m_diskTimer.stop();
    m_lines->cancelDiscovery();
    if (std::exchange(m_waitingCommand, std::nullopt))
        QApplication::restoreOverrideCursor();
    m_reconnect->cancel();
    m_patrolTimer.stop();
    m_patrol->Stop();
    // Dropping the call stops the connection, which closes every channel
    // window and so finishes their recordings.
    m_lines->DropCall();
    if (m_help)
        m_help->close();
    m_closing = true;
    event->accept();
    emit closed();
}
