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
    , m_disk(m_env.store.GetLimitDiskSpace(), m_env.store.GetCheckTimer())
    , m_alarm(FindProgramFile(QStringLiteral("alarm.wav"),
                              m_env.fileFolders.isEmpty() ? ProgramFileFolders() : m_env.fileFolders)) {
    setWindowTitle(LoadString(IDS_APP_TITLE));
    setWindowIcon(QIcon(QStringLiteral(":/images/app.svg")));
    setObjectName(QStringLiteral("MainFrame"));

    m_view = new VideoViewArea(*this, this);
    m_view->setObjectName(QStringLiteral("viewArea"));
    setCentralWidget(m_view);
    m_view->installEventFilter(this);

    CreateActions();
    CreateMenus();
    CreateToolBars();
    CreateStatusBar();

    auto port = std::make_unique<CommPort>(m_env.dialogs, m_connectionStore, m_env.channels,
                                           m_env.decompressors, m_env.portOptions);
    m_port = port.get();
    m_port->AttachMainWindow(this, m_view, this);
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
    m_patrol->SetFinished([this](const PatrolReport& report) {
        RefreshCommandStates();
        emit PatrolFinished(report.AllReached());
    });
    m_lines->SetCallEndObserver([this](const CallEnd& end) {
        m_reconnect->OnCallEnd(end);
        m_patrol->OnCallEnd(end);
    });
    m_port->SetFrameObserver(
        [this](int32_t channel, std::span<const uint8_t> picture) { m_patrol->OnFrame(channel, picture); },
        [this](int32_t channel) { return m_patrol->WantsFrame(channel); });
    ApplyUnattendedSettings();
    m_patrolSettings = PatrolSettings::Read(m_env.store);
    m_patrolLast = QDateTime::currentDateTime();
    m_patrolTimer.setInterval(30000);
    connect(&m_patrolTimer, &QTimer::timeout, this, &MainFrame::CheckPatrolSchedule);
    m_patrolTimer.start();
    CreateCallViews();

    m_diskTimer.setObjectName(QStringLiteral("diskTimer"));
    connect(&m_diskTimer, &QTimer::timeout, this, &MainFrame::CheckDiskSpace);
    m_watchdogTimer.setSingleShot(true);
    connect(&m_watchdogTimer, &QTimer::timeout, this, [this] { m_lines->OnAnswerWatchdog(); });
    // Line and port states change inside the telephony service's callbacks
    // and the connection timer; the actions follow them on this idle tick.
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainFrame::RefreshCommandStates);
    m_refreshTimer.start();
    RefreshCommandStates();
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
    m_modemPane->setText(LoadString(IDS_LOOKING_FOR_MODEMS));
    m_networkModems = NetworkModemList::Load(m_env.store).Entries();
    m_env.telephony.SetNetworkModems(m_networkModems);
    m_lines->Discover(m_env.store.GetModem(), [this] { OnModemsFound(); });
    RequestDiskPane();
    m_diskTimer.start(m_disk.IntervalMs());
    RefreshCommandStates();
}

// ---- Commands ----

QAction* MainFrame::MakeAction(CommandId id, const QString& text, const QString& icon) {
    auto* action = new QAction(text, this);
    const QStringList prompt = LoadString(stringIdOf(id)).split(QLatin1Char('\n'));
    if (!prompt.isEmpty() && !prompt.front().isEmpty()) {
        action->setStatusTip(prompt.front());
        action->setToolTip(prompt.size() > 1 ? prompt.at(1) : prompt.front());
    }
    if (!icon.isEmpty())
        action->setIcon(QIcon(QStringLiteral(":/images/") + icon));
    action->setData(commandNumber(id));
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    m_actions[id] = action;
    return action;
}

void MainFrame::CreateActions() {
    MakeAction(CommandId::Connect, tr("&Connect to local site"), QStringLiteral("tb_connect.svg"));
    MakeAction(CommandId::HangUp, tr("&Hang up"), QStringLiteral("tb_hangup.svg"));
    MakeAction(CommandId::Listen, tr("&Listen"), QStringLiteral("tb_listen.svg"));
    MakeAction(CommandId::PhoneBook, tr("Setup &phone book"), QStringLiteral("tb_phonebook.svg"));
    MakeAction(CommandId::SelectModem, tr("Select &modem"), QStringLiteral("tb_modem.svg"));
    MakeAction(CommandId::OpenChannel, tr("&Open local site video channel"),
               QStringLiteral("tb_openchannel.svg"));
    MakeAction(CommandId::VideoWindow, tr("&Video window"), QStringLiteral("tb_videowindow.svg"));
    MakeAction(CommandId::Arrange, tr("&Arrange video window"), QStringLiteral("popup_tile.svg"));
    MakeAction(CommandId::ChangeSize, tr("&Change video size"), QStringLiteral("popup_overlap.svg"))
        ->setCheckable(true);
    QAction* bars = MakeAction(CommandId::Toolbar, tr("&Toolbar"));
    bars->setCheckable(true);
    bars->setShortcut(QKeySequence(Qt::Key_Escape));
    bars->setShortcutContext(Qt::WindowShortcut);
    MakeAction(CommandId::EventNotify, tr("Browse &event notify"));
    MakeAction(CommandId::Playback, tr("&Playback video"), QStringLiteral("tb_playback.svg"));
    MakeAction(CommandId::Options, tr("&Options"));
    MakeAction(CommandId::RecordPath, tr("Setup video &record path"), QStringLiteral("tb_recordpath.svg"));
    MakeAction(CommandId::SetupPassword, tr("Setup pass&word"), QStringLiteral("tb_password.svg"));
    MakeAction(CommandId::StopAlarm, tr("&Stop sound alarm"), QStringLiteral("tb_stopalarm.svg"));
    MakeAction(CommandId::Help, tr("Online &help"));
    MakeAction(CommandId::AppAbout, tr("&About Dialscope ..."));
    MakeAction(CommandId::AppExit, tr("E&xit"), QStringLiteral("tb_exit.svg"));
    // Commands of unattended operation take their prompts from their own strings.
    const std::pair<CommandId, StringId> prompts[] = {
        {CommandId::Unattended, IDS_CMD_UNATTENDED},      {CommandId::PatrolSetup, IDS_CMD_PATROL_SETUP},
        {CommandId::PatrolRun, IDS_CMD_PATROL_RUN},       {CommandId::PatrolStop, IDS_CMD_PATROL_STOP},
        {CommandId::PatrolReport, IDS_CMD_PATROL_REPORT}, {CommandId::NetworkModems, IDS_CMD_NETWORK_MODEMS}};
    MakeAction(CommandId::Unattended, tr("&Unattended operation"));
    MakeAction(CommandId::PatrolSetup, tr("&Edit site patrol"));
    MakeAction(CommandId::PatrolRun, tr("&Run now"));
    MakeAction(CommandId::PatrolStop, tr("&Stop"));
    MakeAction(CommandId::PatrolReport, tr("&Patrol report"));
    MakeAction(CommandId::NetworkModems, tr("&Network modems..."));
    for (const auto& [id, text] : prompts) {
        const QStringList prompt = LoadString(text).split(QLatin1Char('\n'));
        Action(id)->setStatusTip(prompt.front());
        Action(id)->setToolTip(prompt.back());
    }
    // Remote control has a key only: no menu item, no button.
    QAction* remote = MakeAction(CommandId::RemoteControl, QString());
    remote->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F10));
    remote->setShortcutContext(Qt::WindowShortcut);
    addAction(remote);
    // Commands the connection posts have no menu item; they go through the
    // table like the rest (ExecuteCommand), without an action.
}

void MainFrame::CreateMenus() {
    QMenuBar* bar = menuBar();
    QMenu* connectMenu = bar->addMenu(tr("&Connect"));
    connectMenu->addAction(Action(CommandId::Connect));
    connectMenu->addAction(Action(CommandId::HangUp));
    connectMenu->addAction(Action(CommandId::Listen));
    connectMenu->addSeparator();
    connectMenu->addAction(Action(CommandId::PhoneBook));
    connectMenu->addSeparator();
    connectMenu->addAction(Action(CommandId::SelectModem));
    connectMenu->addAction(Action(CommandId::NetworkModems));

    QMenu* channelMenu = bar->addMenu(tr("&Video channel"));
    m_channelMenu = channelMenu;
    channelMenu->addAction(Action(CommandId::OpenChannel));
    channelMenu->addSeparator();
    channelMenu->addAction(Action(CommandId::Arrange));
    channelMenu->addSeparator();
    channelMenu->addAction(Action(CommandId::ChangeSize));

    QMenu* viewMenu = bar->addMenu(tr("V&iew"));
    m_viewMenu = viewMenu;
    viewMenu->addAction(Action(CommandId::Toolbar));
    viewMenu->addSeparator();
    viewMenu->addAction(Action(CommandId::EventNotify));
    viewMenu->addAction(Action(CommandId::PatrolReport));

    QMenu* clipsMenu = bar->addMenu(tr("Video c&lips"));
    clipsMenu->addAction(Action(CommandId::Playback));

    QMenu* setupMenu = bar->addMenu(tr("&Setup"));
    setupMenu->addAction(Action(CommandId::Options));
    setupMenu->addSeparator();
    setupMenu->addAction(Action(CommandId::RecordPath));
    setupMenu->addSeparator();
    setupMenu->addAction(Action(CommandId::SetupPassword));
    setupMenu->addSeparator();
    setupMenu->addAction(Action(CommandId::Unattended));
    QMenu* patrolMenu = setupMenu->addMenu(tr("Site p&atrol"));
    patrolMenu->setObjectName(QStringLiteral("patrolMenu"));
    patrolMenu->addAction(Action(CommandId::PatrolSetup));
    patrolMenu->addAction(Action(CommandId::PatrolRun));
    patrolMenu->addAction(Action(CommandId::PatrolStop));
    connect(patrolMenu, &QMenu::aboutToShow, this, &MainFrame::RefreshCommandStates);

    QMenu* aboutMenu = bar->addMenu(tr("&About"));
    aboutMenu->addAction(Action(CommandId::Help));
    aboutMenu->addSeparator();
    aboutMenu->addAction(Action(CommandId::AppAbout));

    // The top-level item shows its text; the toolbar button shares the command.
    bar->addAction(tr("E&xit"), this, [this] { ExecuteCommand(CommandId::AppExit); });

    for (QMenu* menu : {connectMenu, channelMenu, viewMenu, clipsMenu, setupMenu, aboutMenu})
        connect(menu, &QMenu::aboutToShow, this, &MainFrame::RefreshCommandStates);

    // The Video window button's pop-up: the two picture items.
    m_videoWindowMenu = new QMenu(this);
    m_videoWindowMenu->setObjectName(QStringLiteral("videoWindowMenu"));
    m_videoWindowMenu->addAction(QIcon(QStringLiteral(":/images/popup_tile.svg")), QString(), this,
                                 [this] { ExecuteCommand(CommandId::Arrange); });
    m_videoWindowMenu->addSeparator();
    m_videoWindowMenu->addAction(QIcon(QStringLiteral(":/images/popup_overlap.svg")), QString(), this,
                                 [this] { ExecuteCommand(CommandId::ChangeSize); });
    m_videoWindowMenu->setStyleSheet(QStringLiteral("QMenu { icon-size: 48px; }"));
}

void MainFrame::CreateToolBars() {
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
            m_toolBar->addAction(Action(id));
            if (QWidget* button = m_toolBar->widgetForAction(Action(id)))
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
    m_statusText = new QLabel(LoadString(IDS_STATUS_DISCONNECT), m_stripBar);
    m_statusText->setObjectName(QStringLiteral("control1001"));
    m_statusText->setMinimumWidth(m_statusText->fontMetrics().averageCharWidth() * 80);
    m_statusText->setContentsMargins(6, 1, 6, 1);
    m_stripBar->addWidget(m_statusText);
    addToolBar(Qt::TopToolBarArea, m_stripBar);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void MainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    const int charWidth = fontMetrics().averageCharWidth();
    m_promptPane = new QLabel(LoadString(IDS_READY), bar);
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

QAction* MainFrame::Action(CommandId id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

FrameState MainFrame::CurrentState() const {
    FrameState state;
    state.lineOpen = m_lines->IsLineOpen();
    state.callPresent = m_lines->HasCall();
    state.deviceCount = m_lines->DeviceCount();
    state.portOpen = m_port->IsOpen();
    state.mayOpen = m_port->MayOpenChannels();
    state.channelsListed = !m_env.channels.empty();
    state.windowCount = m_port->WindowCount();
    state.sizeMode = m_sizeMode;
    state.barsShown = m_barsShown;
    state.alarmPlaying = m_alarmPlaying;
    state.discovering = m_lines->IsDiscovering();
    state.redialPending = m_reconnect && m_reconnect->Pending();
    state.patrolRunning = m_patrol && m_patrol->Running();
    return state;
}

void MainFrame::RefreshCommandStates() {
    if (!m_lines)
        return;
    const FrameState state = CurrentState();
    for (const auto& [id, action] : m_actions) {
        action->setEnabled(IsCommandEnabled(id, state));
        if (action->isCheckable())
            action->setChecked(IsCommandChecked(id, state));
    }
    RefreshViewActions();
}

void MainFrame::OnModemsFound() {
    m_modemPane->setText(m_lines->LineName());
    const std::optional<CommandId> waiting = std::exchange(m_waitingCommand, std::nullopt);
    if (waiting)
        QApplication::restoreOverrideCursor();
    RefreshCommandStates();
    emit ModemsFound();
    if (waiting)
        ExecuteCommand(*waiting);
    m_networkRetried = false;
}

bool MainFrame::ExecuteCommand(CommandId id) {
    if (!m_lines || m_closing)
        return false;
    const FrameState state = CurrentState();
    if (state.discovering && CommandWaitsForModems(id) && IsCommandEnabled(id, state)) {
        // The latest such command wins; the window stays live meanwhile.
        if (!m_waitingCommand)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        m_waitingCommand = id;
        return true;
    }
    const bool done = DispatchFrameCommand(id, state, *this);
    RefreshCommandStates();
    return done;
}

void MainFrame::OnPostedCommand(CommandId command) {
    ExecuteCommand(command);
}

// ---- Connection ----

void MainFrame::OnConnect() {
    m_lines->DropCall();
    const std::optional<QString> number = m_env.frameDialogs.RunConnect(this);
    if (!number)
        return;
    m_reconnect->NoteOperatorDial(*number);
    if (!m_lines->IsLineOpen())
        m_lines->ResetLine();
    m_lines->Dial(*number);
}

void MainFrame::OnHangUp() {
    // With only a redial waiting there is no call to end: the line listens on.
    if (m_reconnect->Cancel() && !m_lines->HasCall()) {
        SetStatusText(LoadString(IDS_STATUS_DISCONNECT));
        return;
    }
    m_lines->ResetLine();
}

// A reopened line answers incoming calls.
void MainFrame::OnListen() {
    if (RetryNetworkModems(std::nullopt))
        return; // the line opens once the modems are found
    m_lines->ResetLine();
}

bool MainFrame::RetryNetworkModems(std::optional<CommandId> command) {
    if (std::exchange(m_networkRetried, false) || !m_env.telephony.HasUnansweredNetworkModems())
        return false;
    // No call is up (both commands need that): the line closes while every
    // port is probed, so no probe talks to the open modem.
    m_lines->Shutdown();
    m_modemPane->setText(LoadString(IDS_LOOKING_FOR_MODEMS));
    m_lines->Discover(m_lines->ChosenDevice(), [this] { OnModemsFound(); });
    if (command) {
        m_networkRetried = true;
        if (!m_waitingCommand)
            QApplication::setOverrideCursor(Qt::BusyCursor);
        m_waitingCommand = command;
    }
    RefreshCommandStates();
    return true;
}

bool MainFrame::ApplyNetworkModems(int device) {
    const std::vector<std::string> stored = NetworkModemList::Load(m_env.store).Entries();
    if (stored == m_networkModems)
        return false;
    m_networkModems = stored;
    m_env.telephony.SetNetworkModems(m_networkModems);
    m_lines->Shutdown();
    m_modemPane->setText(LoadString(IDS_LOOKING_FOR_MODEMS));
    m_lines->Discover(device, [this] { OnModemsFound(); });
    RefreshCommandStates();
    return true;
}

void MainFrame::OnSelectModem() {
    RunModemChoice(CommandId::SelectModem);
}

// The same dialog: with no device yet, only its network modem list is of use.
void MainFrame::OnNetworkModems() {
    RunModemChoice(CommandId::NetworkModems);
}

void MainFrame::RunModemChoice(CommandId command) {
    if (RetryNetworkModems(command))
        return; // runs again once the modems are found
    QStringList names;
    for (int device = 0; device < m_lines->DeviceCount(); ++device)
        names.append(m_lines->GetLineName(device));
    const std::optional<int> chosen =
        m_env.frameDialogs.RunSelectModem(this, names, m_lines->ChosenDevice(), *m_lines);
    // A changed network modem list: the modems are looked for again, and the
    // chosen device (or the next modem after it) is used when they are found.
    if (ApplyNetworkModems(chosen.value_or(m_lines->ChosenDevice()))) {
        if (chosen)
            m_env.store.SetSetting(AppStore::kModem, *chosen);
        return;
    }
    if (!chosen)
        return;
    if (*chosen != m_lines->ChosenDevice())
        m_lines->Reinitialize(*chosen);
    m_modemPane->setText(m_lines->LineName());
    m_env.store.SetSetting(AppStore::kModem, *chosen);
}

void MainFrame::OnOpenChannel() {
    // A patrol opens its channels itself; the site's prompt asks no one then.
    if (!m_port->IsOpen() || m_patrol->Running())
        return;
    if (const std::optional<int32_t> channel = m_env.frameDialogs.RunChannelChoice(this, m_env.channels))
        m_port->RequestOpenChannel(*channel);
}

void MainFrame::OnRemoteControl() {
    RemoteControlPrompts prompts;
    prompts.choose = [this] {
        return m_env.frameDialogs.RunRemoteControl(this);
    };
    prompts.commandLine = [this] {
        return m_env.frameDialogs.RunCommandLine(this);
    };
    RunRemoteControl(m_lines->IsConnected(), m_port, prompts);
}

void MainFrame::OnLoginError() {
    if (m_patrol->Running()) { // unattended: the report says it, no message waits for a person
        m_patrol->OnLoginRejected();
        return;
    }
    m_reconnect->Cancel();
    m_lines->ResetLine();
    m_env.dialogs.notice(this, LoadString(IDP_LOGIN_ERROR));
}

void MainFrame::OnCompressionError() {
    m_lines->DropCall();
    m_env.dialogs.notice(this, LoadString(IDP_COMPRESSION_ERROR));
}

void MainFrame::StartAnswerWatchdog(int ms) {
    m_watchdogTimer.start(ms);
}

void MainFrame::StopAnswerWatchdog() {
    m_watchdogTimer.stop();
}

std::unique_ptr<DialStatusWindow> MainFrame::OpenDialStatus(const QString& number, const QString& status) {
    return m_dialStatus->OpenDialStatus(number, status);
}

void MainFrame::SetStatusText(const QString& text) {
    m_statusText->setText(text);
}

// ---- Video windows ----

void MainFrame::OnVideoWindow() {
    QWidget* button = m_toolBar->widgetForAction(Action(CommandId::VideoWindow));
    const QPoint at = button && button->isVisible() ? button->mapToGlobal(QPoint(0, button->height()))
                                                    : mapToGlobal(QPoint(0, 0));
    m_videoWindowMenu->popup(at);
}

void MainFrame::OnChangeSize() {
    m_sizeMode = !m_sizeMode;
}

void MainFrame::OnArrange() {
    m_port->ArrangeWindows();
}

void MainFrame::arrangeWindows() {
    m_port->ArrangeWindows();
}

void MainFrame::OnToolbar() {
    m_barsShown = !m_barsShown;
    m_toolBar->setVisible(m_barsShown);
    m_stripBar->setVisible(m_barsShown);
    statusBar()->setVisible(m_barsShown);
    // The arrange applies the flag to every channel window as well.
    m_port->ArrangeWindows();
}

bool MainFrame::IsMaximized() const {
    return isMaximized();
}

void MainFrame::Maximize() {
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

std::string MainFrame::ChannelName(int32_t channel) const {
    return m_env.channels.GetChannelName(channel);
}

ChannelControl& MainFrame::Control() {
    return *m_port;
}

std::unique_ptr<ClipRecorder> MainFrame::CreateRecorder() {
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

DialogService& MainFrame::Dialogs() {
    return m_env.dialogs;
}

// ---- Alarm ----

void MainFrame::StartAlarm() {
    if (m_alarmPlaying)
        return;
    m_alarmPlaying = m_alarm.Play();
    RefreshCommandStates();
}

void MainFrame::OnStopAlarm() {
    m_alarmPlaying = false;
    m_alarm.Stop();
}

// ---- Disk space ----

void MainFrame::CheckDiskSpace() {
    // The volume is read on the probe's thread; the check runs when the
    // reading is back, so a hung volume delays the pane, never the window.
    m_volume.Request(m_env.store.storedRecordPath(), [this](const VolumeProbe::Reading& reading) {
        m_volumeReading = reading;
        ++m_diskReadings;
        if (m_disk.ThresholdMB() != 0 && m_disk.Check(reading.freeMB))
            m_env.dialogs.notice(this, LoadString(IDP_DISK_SPACE_LOW));
        RefreshDiskPane();
    });
    StartRetention();
}

void MainFrame::RequestDiskPane() {
    m_volume.Request(m_env.store.storedRecordPath(), [this](const VolumeProbe::Reading& reading) {
        m_volumeReading = reading;
        ++m_diskReadings;
        RefreshDiskPane();
    });
}

bool MainFrame::StartRetention() {
    if (!m_retention || (!m_unattended.retentionFreeSpace && m_unattended.retentionDays == 0))
        return false;
    RetentionRequest request;
    request.storePath = m_env.store.userStore().filePath();
    request.recordFolder = m_env.store.storedRecordPath();
    request.resolveFolder = &AppStore::resolveRecordPath;
    request.freeSpaceRule = m_unattended.retentionFreeSpace;
    request.limitBytes = uint64_t(m_disk.ThresholdMB()) << 20;
    request.maxAgeDays = m_unattended.retentionDays;
    request.now = std::time(nullptr);
    return m_retention->Start(std::move(request));
}

void MainFrame::RefreshDiskPane() {
    m_diskText->setText(LoadString(IDS_DISK_FREE)
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
    if (m_disk.Below())
        m_diskPane->SetDot(
            Picture(m_disk.BlinkPhase() ? QStringLiteral("dot_large.svg") : QStringLiteral("dot_small.svg")));
    else
        m_diskPane->SetDot(QPixmap());
}

void MainFrame::diskWatchChanged(uint32_t thresholdMB, uint32_t checkSeconds) {
    m_disk.Reconfigure(thresholdMB, checkSeconds);
    m_diskTimer.start(m_disk.IntervalMs());
}

void MainFrame::recordFolderChanged() {
    RequestDiskPane();
}

// ---- Dialogs ----

void MainFrame::OnPhoneBook() {
    m_env.frameDialogs.RunPhoneBook(this);
}

void MainFrame::OnEventNotify() {
    m_env.frameDialogs.RunEventNotify(this);
}

void MainFrame::OnPlayback() {
    m_env.frameDialogs.RunClipBrowser(this);
}

void MainFrame::OnOptions() {
    m_env.frameDialogs.RunOptions(this, *this);
}

void MainFrame::OnRecordPath() {
    m_env.frameDialogs.RunRecordPath(this, *this);
}

void MainFrame::OnSetupPassword() {
    m_env.app.OnSetupPassword();
}

void MainFrame::OnAbout() {
    m_env.app.OnAppAbout();
}

void MainFrame::OnUnattended() {
    if (m_env.frameDialogs.RunUnattended(this))
        ApplyUnattendedSettings();
}

void MainFrame::ApplyUnattendedSettings() {
    m_unattended = UnattendedSettings::Read(m_env.store);
    m_reconnect->Configure(m_unattended.reconnect, m_unattended.reconnectAttempts);
}

void MainFrame::OnPatrolSetup() {
    if (!m_env.frameDialogs.RunPatrolSetup(this))
        return;
    m_patrolSettings = PatrolSettings::Read(m_env.store);
    m_patrolLast = QDateTime::currentDateTime(); // the schedule counts from now
}

void MainFrame::OnPatrolRun() {
    StartPatrol();
}

void MainFrame::OnPatrolStop() {
    m_patrol->Stop();
}

void MainFrame::OnPatrolReport() {
    m_env.frameDialogs.ShowPatrolReport(this, m_env.store.storedRecordPath());
}

bool MainFrame::StartPatrol(const QStringList& names) {
    if (m_patrol->Running())
        return false;
    m_patrolSettings = PatrolSettings::Read(m_env.store);
    QStringList missing;
    std::vector<PatrolSite> sites =
        PatrolSitesFromPhoneBook(m_env.store, names.isEmpty() ? m_patrolSettings.entries : names, &missing);
    for (const QString& name : missing)
        qWarning("patrol: no phone-book entry named \"%s\"", qPrintable(name));
    // The patrol's calls are its own: none of them is redialled.
    m_reconnect->ForgetNumber();
    m_patrol->SetRecordSeconds(m_patrolSettings.recordSeconds);
    m_patrolLast = QDateTime::currentDateTime();
    const bool started = m_patrol->Start(std::move(sites));
    RefreshCommandStates();
    return started;
}

void MainFrame::CheckPatrolSchedule() {
    const std::optional<QDateTime> due = PatrolSchedule::NextRound(m_patrolSettings, m_patrolLast);
    if (!due || QDateTime::currentDateTime() < *due)
        return;
    // Only on a free, listening line; otherwise the next check tries again.
    if (IsCommandEnabled(CommandId::PatrolRun, CurrentState()))
        StartPatrol();
}

void MainFrame::OnExit() {
    m_env.app.OnAppExit();
}

void MainFrame::OnHelp() {
    const QString path = FindProgramFile(
        QStringLiteral("DScope.Hlp"), m_env.fileFolders.isEmpty() ? ProgramFileFolders() : m_env.fileFolders);
    if (!m_help)
        m_help = new HelpWindow(this);
    if (path.isEmpty() || !m_help->ShowContents(path))
        m_env.dialogs.notice(this, LoadString(IDP_HELP_NOT_FOUND));
}

// ---- Panes and closing ----

QString MainFrame::PromptText() const {
    return m_promptPane->text();
}
QString MainFrame::DiskText() const {
    return m_diskText->text();
}
QString MainFrame::ModemText() const {
    return m_modemPane->text();
}

bool MainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_promptPane->setText(tip.isEmpty() ? LoadString(IDS_READY) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void MainFrame::closeEvent(QCloseEvent* event) {
    m_diskTimer.stop();
    m_lines->CancelDiscovery();
    if (std::exchange(m_waitingCommand, std::nullopt))
        QApplication::restoreOverrideCursor();
    m_reconnect->Cancel();
    m_patrolTimer.stop();
    m_patrol->Stop();
    // Dropping the call stops the connection, which closes every channel
    // window and so finishes their recordings.
    m_lines->DropCall();
    if (m_help)
        m_help->close();
    m_closing = true;
    event->accept();
    emit Closed();
}
