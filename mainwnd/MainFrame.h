#pragma once

// The program's main window: menu, toolbar, the one-line link status strip,
// the status bar with its disk and modem panes, and the view area in which
// every live channel window lives. It owns the line control (and through it
// the connection) for its whole life.
//
// How it works: every command of the menu, the toolbar and the keys is a
// QAction bound by identifier to the command table (CommandTable.h); actions
// only dispatch, and the table asks the command's rule again with the state of
// that moment before the handler runs. Commands posted by the connection take
// the same path. The actions' enabled and checked states are refreshed from a
// fresh state snapshot after every command and on a short idle timer, so they
// follow line and port changes that happen inside the telephony service.
//
// A timer checks the free space of the record folder's volume (DiskWatch); a
// second one is the answer watchdog the line control starts when it answers a
// call. Closing the window drops any call, which closes every channel window
// and so finishes their recordings.

#include "app/ui/SettingsCommands.h"
#include "calllog/CallJournal.h"
#include "connect/AppConnectionStore.h"
#include "connect/DialStatusDialog.h"
#include "connect/DialStatusDialogFactory.h"
#include "link/AnswerWatchdog.h"
#include "link/CommPort.h"
#include "link/LineManager.h"
#include "link/LinkInterfaces.h"
#include "mainwnd/AlarmSound.h"
#include "mainwnd/CommandTable.h"
#include "mainwnd/DiskWatch.h"
#include "mainwnd/FrameDialogs.h"
#include "mainwnd/HelpWindow.h"
#include "mainwnd/VolumeProbe.h"
#include "unattended/PatrolRunner.h"
#include "unattended/PatrolSettings.h"
#include "unattended/Reconnector.h"
#include "unattended/RetentionWorker.h"
#include "unattended/UnattendedSettings.h"
#include "video/core/ChannelWindowContext.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class AppStore;
class CallLogDialog;
class CallPanel;
class BitmapPane;
class ChannelTable;
class ClipIndex;
class ClipWriterThread;
class VideoViewArea;
class DialogService;
class QLabel;
class QMenu;
class QToolBar;

namespace tel {
class TelephonyService;
}

class MainFrame : public QMainWindow,
                  public FrameCommands,
                  public AnswerWatchdog,
                  public MainWindowCommands,
                  public StatusLine,
                  public SettingsFollowUp,
                  public DialStatusFactory,
                  public ChannelWindowContext {
    Q_OBJECT
public:
    // Everything the main window works with; all must outlive it.
    struct Environment {
        AppStore& store;
        ChannelTable& channels;
        ClipIndex& clips;
        DialogService& dialogs;
        tel::TelephonyService& telephony;
        DecompressorFactory& decompressors;
        FrameDialogs& frameDialogs;
        AppCommands& app;
        // Where "alarm.wav" and "DScope.Hlp" are looked for.
        QStringList fileFolders;
        LineManager::Timings lineTimings = {};
        CommPortOptions portOptions = {};
        // Where finished calls are filed; none: they are not.
        CallLog* callLog = nullptr;
    };

    static constexpr int kToolButtonWidth = 40;
    static constexpr int kToolButtonHeight = 42;

    explicit MainFrame(Environment env, QWidget* parent = nullptr);
    ~MainFrame() override;

    // The creation steps after the window exists: the splash picture, the
    // line control on the stored modem, the modem and disk panes and the
    // disk-check timer. The modems are looked for in the background: the
    // modem pane says so, the line opens on the stored modem once they are
    // found (ModemsFound), and Connect, Listen and Select modem given
    // meanwhile wait for that under a busy cursor, then run.
    void Start();
    // The command that waits for the modem search; 0 when none does.
    std::optional<CommandId> waitingCommand() const { return m_waitingCommand; }

    // Runs `id` if its rule allows it now; false when it was not carried out.
    bool executeCommand(CommandId id);
    FrameState currentState() const;
    QAction* action(CommandId id) const;
    // Re-reads every action's enabled and checked state.
    void refreshCommandStates();

    LineManager& lines() { return *m_lines; }
    CommPort& port() { return *m_port; }
    VideoViewArea* view() const { return m_view; }
    QLabel* statusStrip() const { return m_statusText; }
    QString promptText() const;
    QString diskText() const;
    QString modemText() const;
    const DiskWatch& disk() const { return m_disk; }
    BitmapPane* diskPane() const { return m_diskPane; }
    bool alarmPlaying() const { return m_alarmPlaying; }
    QToolBar* mainToolBar() const { return m_toolBar; }
    QToolBar* statusStripBar() const { return m_stripBar; }
    HelpWindow* help() const { return m_help; }
    QMenu* videoWindowMenu() const { return m_videoWindowMenu; }

    // The call views and the keyboard commands (MainFrameCalls.cpp).
    CallPanel* callPanelDock() const { return m_callPanel; }
    CallLogDialog* callLogWindow() const;
    const CallJournal& journal() const { return *m_journal; }
    QAction* viewAction(CommandId id) const;
    // Runs a ViewCommand; false when it did nothing.
    bool executeViewCommand(CommandId id);
    // The once-a-second routine: the call panel's figures and every channel
    // window's old-picture mark.
    void onCallTick();

    // The disk-space check (the disk timer's routine).
    void checkDiskSpace();
    // Writes the free space and the volume into the disk pane and redraws the dot.
    void refreshDiskPane();
    // Reads the record volume on the probe's thread, then refreshes the pane.
    void requestDiskPane();
    // Volume readings handled so far (each check and pane request adds one).
    int diskReadings() const { return m_diskReadings; }

    // AnswerWatchdog
    void startAnswerWatchdog(int ms) override;
    void stopAnswerWatchdog() override;
    bool answerWatchdogRunning() const { return m_watchdogTimer.isActive(); }

    // MainWindowCommands
    void onPostedCommand(CommandId command) override;
    bool isMaximized() const override;
    void maximize() override;
    bool barsShown() const override { return m_barsShown; }
    void startAlarm() override;

    // ChannelWindowContext (barsOn is shared with MainWindowCommands)
    bool sizeChangeMode() const override { return m_sizeMode; }
    std::string channelName(int32_t channel) const override;
    ChannelControl& Control() override;
    std::unique_ptr<ClipRecorder> createRecorder() override;
    void clipStarted() override;
    DialogService& dialogs() override;

    // DialStatusFactory
    std::unique_ptr<DialStatusWindow> openDialStatus(const QString& number, const QString& status) override;
    DialStatusDialogFactory& dialStatus() { return *m_dialStatus; }

    // StatusLine
    void SetStatusText(const QString& text) override;

    // SettingsFollowUp; also the Arrange command of FrameCommands
    void diskWatchChanged(uint32_t thresholdMB, uint32_t checkSeconds) override;
    void arrangeWindows() override;
    void recordFolderChanged() override;

    // FrameCommands
    void onConnect() override;
    void onHangUp() override;
    void onListen() override;
    void onPhoneBook() override;
    void onSelectModem() override;
    void onOpenChannel() override;
    void onVideoWindow() override;
    void onChangeSize() override;
    void onToolbar() override;
    void onEventNotify() override;
    void onPlayback() override;
    void onOptions() override;
    void onRecordPath() override;
    void onSetupPassword() override;
    void onStopAlarm() override;
    void onHelp() override;
    void onRemoteControl() override;
    void onLoginError() override;
    void onCompressionError() override;
    void onAbout() override;
    void onExit() override;
    void onUnattended() override;
    void onPatrolSetup() override;
    void onPatrolRun() override;
    void onPatrolStop() override;
    void onPatrolReport() override;
    void onNetworkModems() override;

    PatrolRunner& patrol() { return *m_patrol; }
    // Starts a round over the named phone-book entries (the stored list when
    // empty); false when none started (a round runs, no sites).
    bool startPatrol(const QStringList& names = {});
    // The schedule's check (its timer's routine).
    void checkPatrolSchedule();

    Reconnector& reconnect() { return *m_reconnect; }
    // Re-reads the unattended options from the store and applies them.
    void applyUnattendedSettings();
    // Starts a retention pass on its thread when an option asks for one (the
    // disk-check timer calls it); false when none was started.
    bool startRetention();
    RetentionWorker& retention() { return *m_retention; }

signals:
    // The window was closed (close box or Exit): the program ends.
    void closed();
    // The modem search at start-up is over and the line control has started.
    void modemsFound();
    // A patrol round ended; `allReached` when every site was reached.
    void patrolFinished(bool allReached);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBars();
    void createStatusBar();
    QAction* makeAction(CommandId id, const QString& text, const QString& icon = {});
    void onModemsFound();
    // Network modems: a host that did not answer is looked for again (on the
    // discovery worker) before listen or Select modem runs; a list the
    // operator changed is handed to the service and the modems looked for.
    bool retryNetworkModems(std::optional<CommandId> command);
    void runModemChoice(CommandId command);
    bool applyNetworkModems(int device);
    void createCallViews();
    void refreshViewActions();
    void setChannelAloneKeys(bool alone);
    QString siteNameFor(const LineCallRecord& line, const CallCounters& counters);

    Environment m_env;
    AppConnectionStore m_connectionStore;
    CommPort* m_port = nullptr; // owned by m_lines
    std::unique_ptr<LineManager> m_lines;
    // Opens the dialing status window over this window for m_lines, which
    // reaches it through this window's DialStatusFactory.
    std::unique_ptr<DialStatusDialogFactory> m_dialStatus;
    DiskWatch m_disk;
    VolumeProbe m_volume;
    VolumeProbe::Reading m_volumeReading;
    int m_diskReadings = 0;
    AlarmSound m_alarm;

    VideoViewArea* m_view = nullptr;
    QToolBar* m_toolBar = nullptr;
    QToolBar* m_stripBar = nullptr;
    QLabel* m_statusText = nullptr;
    QLabel* m_promptPane = nullptr;
    BitmapPane* m_diskPane = nullptr;
    QLabel* m_diskText = nullptr;
    BitmapPane* m_phonePane = nullptr;
    QLabel* m_modemPane = nullptr;
    QMenu* m_videoWindowMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_channelMenu = nullptr;
    std::unique_ptr<CallJournal> m_journal;
    CallPanel* m_callPanel = nullptr;
    QPointer<CallLogDialog> m_callLogDialog;
    std::map<CommandId, QAction*> m_viewActions;
    QTimer m_callTimer;
    bool m_wasLive = false;
    bool m_aloneKeys = false;
    QString m_siteNumber; // the number whose phone-book name is m_siteName
    QString m_siteName;
    QPointer<HelpWindow> m_help;
    std::map<CommandId, QAction*> m_actions;

    QTimer m_diskTimer;
    QTimer m_watchdogTimer;
    QTimer m_refreshTimer;
    bool m_sizeMode = false;
    bool m_barsShown = true;
    bool m_alarmPlaying = false;
    bool m_closing = false;
    bool m_arrangeAfterResize = false;
    // Writes every recording's files (shared with the recorders).
    std::shared_ptr<ClipWriterThread> m_clipWriter;
    std::optional<CommandId> m_waitingCommand;
    bool m_networkRetried = false;            // the waiting command follows a retry
    std::vector<std::string> m_networkModems; // the list the service was given
    std::unique_ptr<Reconnector> m_reconnect;
    UnattendedSettings m_unattended;
    std::unique_ptr<RetentionWorker> m_retention = std::make_unique<RetentionWorker>();
    std::unique_ptr<PatrolRunner> m_patrol;
    PatrolSettings m_patrolSettings;
    QDateTime m_patrolLast; // start of the last round, or when the schedule was set
    QTimer m_patrolTimer;
};
