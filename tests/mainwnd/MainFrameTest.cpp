// The main window on a scripted telephony service: command states, posted
// commands, bars, status texts, the disk warning, and the dialogs its
// commands open.
#include "mainwnd/CallLogDialog.h"
#include "mainwnd/CallPanel.h"
#include "mainwnd/StatusPanes.h"
#include "res/CommandId.h"
#include "res/StringTable.h"
#include "tests/mainwnd/FrameFixture.h"
#include "unattended/PatrolDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTextBrowser>
#include <QThreadPool>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// The disk check reads the volume on another thread: runs one and waits
// (bounded) for its reading to be handled.
void waitForDiskReading(MainFrame& frame, int before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (frame.diskReadings() == before && std::chrono::steady_clock::now() < deadline) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void checkDiskAndWait(MainFrame& frame) {
    const int before = frame.diskReadings();
    frame.checkDiskSpace();
    waitForDiskReading(frame, before);
}

// Runs the event loop until `done` or `ms` passed.
bool runUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace

TEST(MainFrame, StartOpensTheLineAndFillsThePanes) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    EXPECT_EQ(f.app.splashes, 1);
    EXPECT_TRUE(frame.lines().isLineOpen());
    EXPECT_EQ(frame.modemText(), QStringLiteral("Modem 0"));
    EXPECT_EQ(frame.promptText(), QStringLiteral("Ready"));
    EXPECT_EQ(frame.statusStrip()->text(), QStringLiteral("Disconnect"));
    waitForDiskReading(frame, 0);
    EXPECT_TRUE(frame.diskText().contains(QRegularExpression(QStringLiteral("^\\d+ MB Free on /"))))
        << frame.diskText().toStdString();
    EXPECT_EQ(frame.disk().intervalMs(), 10000); // CheckTimer absent

    // Menu prompts show in pane 0; "Ready" when none.
    QStatusTipEvent tip(frame.action(CommandId::Connect)->statusTip());
    QApplication::sendEvent(&frame, &tip);
    EXPECT_EQ(frame.promptText(), QStringLiteral("Connect to local site"));
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(&frame, &none);
    EXPECT_EQ(frame.promptText(), QStringLiteral("Ready"));

    // Toolbar buttons are 40 x 42 and share the command's action.
    const auto* button =
        qobject_cast<QToolButton*>(frame.mainToolBar()->widgetForAction(frame.action(CommandId::Connect)));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->size(), QSize(40, 42));
}

TEST(MainFrame, ActionStatesFollowTheLine) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    EXPECT_TRUE(frame.action(CommandId::Connect)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::HangUp)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::Listen)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::OpenChannel)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::StopAlarm)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::Toolbar)->isChecked());

    // The service closes the line: the idle refresh shows it.
    frame.lines().CloseLine();
    frame.refreshCommandStates();
    EXPECT_FALSE(frame.action(CommandId::Connect)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::Listen)->isEnabled());
    // listen reopens it.
    EXPECT_TRUE(frame.executeCommand(CommandId::Listen));
    EXPECT_TRUE(frame.lines().isLineOpen());
    EXPECT_FALSE(frame.action(CommandId::Listen)->isEnabled());
}

// Without any device, Listen and the network modem list are left: the first
// network modem is added there and looked for at once.
TEST(MainFrame, NoModemLeavesListenAndTheNetworkModemList) {
    FrameFixture f(0);
    MainFrame& frame = f.Make();
    EXPECT_FALSE(frame.lines().isLineOpen());
    EXPECT_EQ(frame.modemText(), QString());
    EXPECT_FALSE(frame.action(CommandId::Connect)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::HangUp)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::SelectModem)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::Listen)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::NetworkModems)->isEnabled());

    f.frameDialogs.whileSelectingModem = [&] {
        f.store.setProfileText("Setting", "NetworkModems", "tcp://ser2net.lan:4001");
    };
    const size_t searches = f.telephony.ops("Discover").size();
    EXPECT_TRUE(frame.executeCommand(CommandId::NetworkModems));
    EXPECT_EQ(f.frameDialogs.calls, QStringList{"SelectModem"});
    EXPECT_TRUE(f.frameDialogs.modemNames.isEmpty());
    EXPECT_EQ(f.telephony.networkModems, std::vector<std::string>{"tcp://ser2net.lan:4001"});
    ASSERT_TRUE(runUntil([&] { return !frame.lines().isDiscovering(); }));
    EXPECT_EQ(f.telephony.ops("Discover").size(), searches + 1);

    // Not while a call is up.
    FrameFixture g;
    MainFrame& other = g.Make();
    g.frameDialogs.dialNumber = QStringLiteral("555");
    EXPECT_TRUE(other.executeCommand(CommandId::Connect));
    other.refreshCommandStates();
    EXPECT_FALSE(other.action(CommandId::NetworkModems)->isEnabled());
}

TEST(MainFrame, PostedCommandsRunOnlyWhenTheirRuleAllows) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    f.telephony.log.clear();
    // No call: the site's hang-up and channel prompt arrive late and do nothing.
    frame.onPostedCommand(CommandId::HangUp);
    frame.onPostedCommand(CommandId::OpenChannel);
    EXPECT_TRUE(f.telephony.log.empty());
    EXPECT_FALSE(f.frameDialogs.calls.contains("ChannelChoice"));

    // A rejected login resets the line and says so.
    frame.onPostedCommand(CommandId::LoginError);
    EXPECT_FALSE(f.telephony.ops("Close").empty());
    EXPECT_TRUE(frame.lines().isLineOpen());
    // No decompressor: the call is dropped and the operator told.
    frame.onPostedCommand(CommandId::CompressionError);
    EXPECT_EQ(f.dialogs.shownTexts(),
              (QStringList{loadString(IDP_LOGIN_ERROR), loadString(IDP_COMPRESSION_ERROR)}));
    EXPECT_EQ(f.dialogs.shown().front().icon, MessageIcon::Exclamation);
}

TEST(MainFrame, ConnectDropsDialsAndHangUpResets) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    // Cancelled: nothing is dialled.
    EXPECT_TRUE(frame.executeCommand(CommandId::Connect));
    EXPECT_TRUE(f.telephony.ops("MakeCall").empty());
    f.frameDialogs.dialNumber = QStringLiteral("555");
    EXPECT_TRUE(frame.executeCommand(CommandId::Connect));
    EXPECT_EQ(f.telephony.ops("MakeCall"), std::vector<std::string>{"MakeCall 555"});
    EXPECT_TRUE(frame.lines().hasCall());
    frame.refreshCommandStates();
    EXPECT_FALSE(frame.action(CommandId::Connect)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::HangUp)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::SelectModem)->isEnabled());
    EXPECT_TRUE(frame.executeCommand(CommandId::HangUp));
    EXPECT_FALSE(frame.lines().hasCall());
    EXPECT_TRUE(frame.lines().isLineOpen());
}

TEST(MainFrame, SelectModemStoresTheChoiceAndNamesIt) {
    FrameFixture f(2);
    MainFrame& frame = f.Make();
    f.frameDialogs.modem = 1;
    EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
    EXPECT_EQ(f.frameDialogs.modemNames, (QStringList{"Modem 0", "Modem 1"}));
    EXPECT_EQ(frame.lines().chosenDevice(), 1);
    EXPECT_EQ(frame.modemText(), QStringLiteral("Modem 1"));
    EXPECT_EQ(f.store.modem(), 1);
    // The same device again: stored, line untouched.
    f.telephony.log.clear();
    EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
    EXPECT_TRUE(f.telephony.ops("Close").empty());
}

TEST(MainFrame, BarsHideAndShowToolbarStripAndStatusBar) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    frame.show();
    EXPECT_TRUE(frame.mainToolBar()->isVisible());
    EXPECT_TRUE(frame.executeCommand(CommandId::Toolbar));
    EXPECT_FALSE(frame.barsShown());
    EXPECT_FALSE(frame.mainToolBar()->isVisible());
    EXPECT_FALSE(frame.statusStripBar()->isVisible());
    EXPECT_FALSE(frame.statusBar()->isVisible());
    EXPECT_FALSE(frame.action(CommandId::Toolbar)->isChecked());
    // Esc is the key of the same command.
    EXPECT_EQ(frame.action(CommandId::Toolbar)->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_TRUE(frame.executeCommand(CommandId::Toolbar));
    EXPECT_TRUE(frame.mainToolBar()->isVisible());
    EXPECT_TRUE(frame.statusStripBar()->isVisible());
    EXPECT_TRUE(frame.statusBar()->isVisible());
    EXPECT_TRUE(frame.action(CommandId::Toolbar)->isChecked());
}

TEST(MainFrame, DiskWarningOnceThenAgainAfterOptions) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    waitForDiskReading(frame, 0); // the start's reading
    // A threshold no disk reaches, confirmed through Options.
    f.frameDialogs.options = std::pair<uint32_t, uint32_t>{0xFFFFFFF0u, 5};
    EXPECT_TRUE(frame.executeCommand(CommandId::Options));
    EXPECT_EQ(frame.disk().intervalMs(), 5000);
    for (int i = 0; i < 4; ++i)
        checkDiskAndWait(frame);
    EXPECT_EQ(f.dialogs.shownTexts(), QStringList{loadString(IDP_DISK_SPACE_LOW)});
    EXPECT_FALSE(frame.diskPane()->dot().isNull());
    EXPECT_TRUE(frame.executeCommand(CommandId::Options));
    checkDiskAndWait(frame);
    checkDiskAndWait(frame);
    EXPECT_EQ(f.dialogs.shownTexts().size(), 2);
    // threshold 0: no more warnings, even after Options cleared the flag.
    f.frameDialogs.options = std::pair<uint32_t, uint32_t>{0, 5};
    EXPECT_TRUE(frame.executeCommand(CommandId::Options));
    checkDiskAndWait(frame);
    EXPECT_EQ(f.dialogs.shownTexts().size(), 2);
}

TEST(MainFrame, RemoteControlNeedsAConnection) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    f.frameDialogs.remote = RemoteChoice::RebootSite;
    EXPECT_TRUE(frame.executeCommand(CommandId::RemoteControl));
    EXPECT_FALSE(f.frameDialogs.calls.contains("RemoteControl"));
    EXPECT_EQ(frame.action(CommandId::RemoteControl)->shortcut(),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F10));
}

TEST(MainFrame, DialogCommandsAndApplicationCommands) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    for (CommandId id :
         {CommandId::PhoneBook, CommandId::EventNotify, CommandId::Playback, CommandId::RecordPath})
        EXPECT_TRUE(frame.executeCommand(id));
    EXPECT_EQ(f.frameDialogs.calls, (QStringList{"PhoneBook", "EventNotify", "ClipBrowser", "RecordPath"}));
    for (CommandId id : {CommandId::AppAbout, CommandId::SetupPassword, CommandId::AppExit})
        EXPECT_TRUE(frame.executeCommand(id));
    EXPECT_EQ(f.app.about, 1);
    EXPECT_EQ(f.app.passwords, 1);
    EXPECT_EQ(f.app.exits, 1);
    // Stop sound alarm is disabled while nothing plays.
    EXPECT_FALSE(frame.executeCommand(CommandId::StopAlarm));
}

TEST(MainFrame, HelpOpensTheContentsPageOrSaysItIsMissing) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    EXPECT_TRUE(frame.executeCommand(CommandId::Help));
    EXPECT_EQ(f.dialogs.shownTexts(), QStringList{loadString(IDP_HELP_NOT_FOUND)});

    FrameFixture g;
    MainFrame& withHelp = g.Make({QStringLiteral(DIALSCOPE_HELP_DIR)});
    EXPECT_TRUE(withHelp.executeCommand(CommandId::Help));
    ASSERT_NE(withHelp.help(), nullptr);
    EXPECT_TRUE(withHelp.help()->isVisible());
    EXPECT_TRUE(withHelp.help()->browser()->toPlainText().contains(QStringLiteral("Contents")));
    EXPECT_TRUE(g.dialogs.shown().empty());
}

TEST(MainFrame, CloseStopsTheDiskTimerAndEndsCommands) {
    FrameFixture f;
    MainFrame& frame = f.Make();
    f.frameDialogs.dialNumber = QStringLiteral("555");
    frame.executeCommand(CommandId::Connect);
    ASSERT_TRUE(frame.lines().hasCall());
    frame.close();
    EXPECT_FALSE(frame.lines().hasCall());
    EXPECT_FALSE(frame.executeCommand(CommandId::PhoneBook));
    settle();
}

// The modems are looked for while the window is up: the pane says so, line
// commands wait for the search (busy cursor, nothing run yet) and then run
// with the state the search left.
TEST(MainFrame, ModemSearchRunsWithTheWindowUpAndLineCommandsWaitForIt) {
    FrameFixture f;
    f.telephony.discoveryMs = 150;
    f.frameDialogs.dialNumber = QStringLiteral("555-0101");
    MainFrame& frame = f.Make();
    EXPECT_EQ(frame.modemText(), QStringLiteral("Looking for modems..."));
    EXPECT_TRUE(f.telephony.ops("Initialize").empty());
    EXPECT_FALSE(frame.lines().isLineOpen());
    EXPECT_TRUE(frame.action(CommandId::Connect)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::SelectModem)->isEnabled());
    EXPECT_FALSE(frame.action(CommandId::HangUp)->isEnabled());

    // listen, then Connect: the later one is what runs.
    EXPECT_TRUE(frame.executeCommand(CommandId::Listen));
    EXPECT_TRUE(frame.executeCommand(CommandId::Connect));
    EXPECT_EQ(frame.waitingCommand(), CommandId::Connect);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    EXPECT_TRUE(f.frameDialogs.calls.isEmpty());
    // Other commands run meanwhile.
    EXPECT_TRUE(frame.executeCommand(CommandId::PhoneBook));

    ASSERT_TRUE(runUntil([&] { return !frame.lines().isDiscovering(); }));
    EXPECT_EQ(frame.modemText(), QStringLiteral("Modem 0"));
    EXPECT_EQ(frame.waitingCommand(), std::nullopt);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(f.frameDialogs.calls, QStringList({"PhoneBook", "Connect"}));
    EXPECT_EQ(f.telephony.ops("MakeCall"), std::vector<std::string>{"MakeCall 555-0101"});
    EXPECT_EQ(f.telephony.ops("Initialize").size(), 1u);
}

TEST(MainFrame, WaitingCommandAsksItsRuleAgainAndClosingCancelsTheSearch) {
    {
        // No modem found: Select modem waited, then is not carried out.
        FrameFixture f(0);
        f.telephony.discoveryMs = 50;
        MainFrame& frame = f.Make();
        EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
        ASSERT_TRUE(runUntil([&] { return !frame.lines().isDiscovering(); }));
        EXPECT_TRUE(f.frameDialogs.calls.isEmpty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(frame.modemText().isEmpty());
    }
    {
        // Closed during the search: the line is never opened.
        FrameFixture f;
        f.telephony.discoveryMs = 50;
        MainFrame& frame = f.Make();
        EXPECT_TRUE(frame.executeCommand(CommandId::Listen));
        frame.close();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        ASSERT_TRUE(runUntil([&] { return f.telephony.discoveriesUnderWay() == 0; }));
        settle();
        EXPECT_TRUE(f.telephony.ops("Initialize").empty());
        EXPECT_FALSE(frame.lines().isLineOpen());
    }
}

// Network modems: the stored list reaches the service before the first search;
// a host that did not answer is looked for again (never on this thread's
// time) before Select modem or Listen runs; a list changed in Select modem is
// handed over and searched at once. Without network modems nothing of this runs.
TEST(MainFrame, NetworkModemsAreRetriedBeforeSelectModemAndListenAndAChangedListIsSearched) {
    FrameFixture f;
    f.telephony.discoveryMs = 30;
    ASSERT_TRUE(f.store.setProfileText("Setting", "NetworkModems", "tcp://ser2net.lan:4001"));
    MainFrame& frame = f.Make();
    ASSERT_TRUE(runUntil([&] { return !frame.lines().isDiscovering(); }));
    EXPECT_EQ(f.telephony.networkModems, std::vector<std::string>{"tcp://ser2net.lan:4001"});
    EXPECT_EQ(f.telephony.ops("SetNetworkModems"), std::vector<std::string>{"SetNetworkModems 1"});

    // All answered: Select modem opens at once, the line stays as it was.
    EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
    EXPECT_EQ(f.frameDialogs.calls, QStringList{"SelectModem"});
    EXPECT_EQ(f.telephony.ops("Discover").size(), 1u);

    // One did not answer: the search runs first, the dialog follows it once.
    f.telephony.unansweredNetworkModems = true;
    EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
    EXPECT_EQ(f.frameDialogs.calls.size(), 1);
    EXPECT_EQ(frame.waitingCommand(), CommandId::SelectModem);
    EXPECT_TRUE(frame.lines().isDiscovering());
    ASSERT_TRUE(runUntil([&] { return f.frameDialogs.calls.size() == 2; }));
    EXPECT_EQ(f.telephony.ops("Discover").size(), 2u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(frame.lines().isLineOpen());

    // Listen on a closed line searches and then listens.
    frame.lines().CloseLine();
    frame.refreshCommandStates();
    EXPECT_TRUE(frame.executeCommand(CommandId::Listen));
    EXPECT_TRUE(frame.lines().isDiscovering());
    ASSERT_TRUE(runUntil([&] { return frame.lines().isLineOpen() && !frame.lines().isDiscovering(); }));
    EXPECT_EQ(f.telephony.ops("Discover").size(), 3u);

    // The operator adds one in the dialog: the service gets the new list and searches.
    f.telephony.unansweredNetworkModems = false;
    f.frameDialogs.whileSelectingModem = [&] {
        f.store.setProfileText("Setting", "NetworkModems", "tcp://ser2net.lan:4001, rfc2217://10.0.0.9:2217");
    };
    f.frameDialogs.modem = 0;
    EXPECT_TRUE(frame.executeCommand(CommandId::SelectModem));
    EXPECT_EQ(f.telephony.networkModems.size(), 2u);
    EXPECT_TRUE(frame.lines().isDiscovering());
    ASSERT_TRUE(runUntil([&] { return frame.lines().isLineOpen() && !frame.lines().isDiscovering(); }));
    EXPECT_EQ(f.telephony.ops("Discover").size(), 4u);
    EXPECT_EQ(f.store.modem(), 0);

    // Unchanged list, nothing unanswered: Listen just reopens the line.
    frame.lines().CloseLine();
    frame.refreshCommandStates();
    EXPECT_TRUE(frame.executeCommand(CommandId::Listen));
    EXPECT_TRUE(frame.lines().isLineOpen());
    EXPECT_EQ(f.telephony.ops("Discover").size(), 4u);
}

TEST(MainFrame, EveryCallIsLoggedAndTheCallViewsAndKeysFollowTheirRules) {
    FrameFixture f;
    f.store.SavePhoneEntry({"North Gate", "pw", "555", ""});
    MainFrame& frame = f.Make();
    f.frameDialogs.dialNumber = QStringLiteral("555");
    EXPECT_TRUE(frame.executeCommand(CommandId::Connect));
    EXPECT_TRUE(frame.executeCommand(CommandId::HangUp));
    std::vector<CallLogEntry> calls = f.callLog.query();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].number, "555");
    EXPECT_EQ(calls[0].site, "North Gate");
    EXPECT_EQ(calls[0].modem, "Modem 0");
    EXPECT_EQ(calls[0].result, CallResult::NoCarrier); // dropped before it connected

    // The call panel: hidden until a call comes up; the menu item shows and
    // hides it and the choice is kept.
    ASSERT_NE(frame.callPanelDock(), nullptr);
    frame.show();
    EXPECT_FALSE(frame.callPanelDock()->isVisible());
    EXPECT_TRUE(frame.executeViewCommand(CommandId::CallPanel));
    EXPECT_TRUE(frame.callPanelDock()->isVisible());
    EXPECT_EQ(f.store.GetSetting(AppStore::kCallPanel), 1);
    EXPECT_TRUE(frame.executeViewCommand(CommandId::CallPanel));
    EXPECT_EQ(f.store.GetSetting(AppStore::kCallPanel), 0);
    frame.onCallTick();
    EXPECT_EQ(frame.callPanelDock()->fieldText(CallPanel::kSite), loadString(IDS_CALL_IDLE));

    // The call log window lists the call and follows new ones.
    EXPECT_TRUE(frame.executeViewCommand(CommandId::CallLog));
    ASSERT_NE(frame.callLogWindow(), nullptr);
    EXPECT_EQ(frame.callLogWindow()->model().entries().size(), 1u);
    EXPECT_TRUE(frame.executeCommand(CommandId::Connect));
    EXPECT_TRUE(frame.executeCommand(CommandId::HangUp));
    EXPECT_EQ(frame.callLogWindow()->model().entries().size(), 2u);

    // No channel window: the channel keys do nothing and are disabled; the
    // keys are in the menus' shortcut column.
    frame.refreshCommandStates();
    for (CommandId id : {CommandId::ChannelAlone, CommandId::ActivateChannel1, CommandId::ActiveRecord,
                         CommandId::ActiveStop, CommandId::ActiveSnapshot}) {
        EXPECT_FALSE(frame.viewAction(id)->isEnabled()) << commandNumber(id);
        EXPECT_FALSE(frame.executeViewCommand(id)) << commandNumber(id);
    }
    EXPECT_EQ(frame.viewAction(CommandId::ChannelAlone)->shortcut(), QKeySequence(Qt::Key_F11));
    EXPECT_EQ(frame.viewAction(CommandId::ActivateChannel9)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_9));
    EXPECT_EQ(frame.viewAction(CommandId::ActiveSnapshot)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    EXPECT_EQ(frame.action(CommandId::Toolbar)->shortcut(), QKeySequence(Qt::Key_Escape));

    // The Video window pop-up mirrors the items it stands for.
    const QList<QAction*> popup = frame.videoWindowMenu()->actions();
    ASSERT_GE(popup.size(), 3);
    EXPECT_EQ(popup[0]->isEnabled(), frame.action(CommandId::Arrange)->isEnabled());
    EXPECT_EQ(popup[2]->isEnabled(), frame.action(CommandId::ChangeSize)->isEnabled());
    EXPECT_EQ(popup[2]->isChecked(), frame.action(CommandId::ChangeSize)->isChecked());
    EXPECT_FALSE(popup[0]->isEnabled());
}

// Setup > Site patrol > Run now calls the listed phone-book entry with its own
// number; while the round runs it cannot start again and Stop is offered;
// Stop hangs up and the round's report says the site was stopped.
TEST(MainFrame, PatrolRunNowCallsTheListedSiteAndStopEndsTheRoundWithAReport) {
    FrameFixture f;
    ASSERT_TRUE(f.store.SavePhoneEntry({"North Gate", "pw", "5550101", ""}));
    ASSERT_TRUE(f.store.setProfileText("Patrol", "Entries", "North Gate"));
    ASSERT_TRUE(f.store.SetRecordPath(f.dir.path() + "/"));
    MainFrame& frame = f.Make();
    ASSERT_TRUE(runUntil([&] { return frame.lines().isLineOpen(); }));
    frame.refreshCommandStates();
    EXPECT_FALSE(frame.action(CommandId::PatrolStop)->isEnabled());

    EXPECT_TRUE(frame.executeCommand(CommandId::PatrolRun));
    ASSERT_TRUE(runUntil([&] { return !f.telephony.ops("MakeCall").empty(); }));
    EXPECT_EQ(f.telephony.ops("MakeCall"), std::vector<std::string>{"MakeCall 5550101"});
    frame.refreshCommandStates();
    EXPECT_FALSE(frame.action(CommandId::PatrolRun)->isEnabled());
    EXPECT_TRUE(frame.action(CommandId::PatrolStop)->isEnabled());

    EXPECT_TRUE(frame.executeCommand(CommandId::PatrolStop));
    EXPECT_FALSE(frame.lines().hasCall());
    frame.refreshCommandStates();
    EXPECT_TRUE(frame.action(CommandId::PatrolRun)->isEnabled());
    QThreadPool::globalInstance()->waitForDone(); // the report is written off the UI thread
    const std::vector<PatrolReport> reports = loadRecentPatrolReports(f.dir.path() + "/", 10);
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(reports[0].sites.size(), 1u);
    EXPECT_EQ(reports[0].sites[0].name, "North Gate");
    EXPECT_EQ(reports[0].sites[0].result, "stopped");
}
