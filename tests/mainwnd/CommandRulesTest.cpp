// The main window's enable and check rules in every line state, and the
// dispatch that asks them again when a command arrives.
#include "CommandTable.h"
#include "DiskWatch.h"
#include "VolumeProbe.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include <map>
#include <set>
#include <vector>

namespace {

struct LineCase {
    const char* name;
    FrameState state;
    std::set<int> enabled; // of the commands that have a rule
};

FrameState Make(bool lineOpen, bool call, bool port, bool mayOpen, bool listed, int devices = 1) {
    FrameState s;
    s.lineOpen = lineOpen;
    s.callPresent = call;
    s.portOpen = port;
    s.mayOpen = mayOpen;
    s.channelsListed = listed;
    s.deviceCount = devices;
    return s;
}

const std::vector<int> kRuled = {ID_CONNECT,      ID_HANG_UP,      ID_LISTEN,
                                 ID_SELECT_MODEM, ID_OPEN_CHANNEL, ID_VIDEO_WINDOW,
                                 ID_CHANGE_SIZE,  ID_ARRANGE,      ID_STOP_ALARM};

class Recorder final : public FrameCommands {
public:
    std::vector<int> ran;
    void onConnect() override { ran.push_back(ID_CONNECT); }
    void onHangUp() override { ran.push_back(ID_HANG_UP); }
    void onListen() override { ran.push_back(ID_LISTEN); }
    void onPhoneBook() override { ran.push_back(ID_PHONE_BOOK); }
    void onSelectModem() override { ran.push_back(ID_SELECT_MODEM); }
    void onOpenChannel() override { ran.push_back(ID_OPEN_CHANNEL); }
    void onVideoWindow() override { ran.push_back(ID_VIDEO_WINDOW); }
    void onChangeSize() override { ran.push_back(ID_CHANGE_SIZE); }
    void arrangeWindows() override { ran.push_back(ID_ARRANGE); }
    void onToolbar() override { ran.push_back(ID_TOOLBAR); }
    void onEventNotify() override { ran.push_back(ID_EVENT_NOTIFY); }
    void onPlayback() override { ran.push_back(ID_PLAYBACK); }
    void onOptions() override { ran.push_back(ID_OPTIONS); }
    void onRecordPath() override { ran.push_back(ID_RECORD_PATH); }
    void onSetupPassword() override { ran.push_back(ID_SETUP_PASSWORD); }
    void onStopAlarm() override { ran.push_back(ID_STOP_ALARM); }
    void onHelp() override { ran.push_back(ID_HELP); }
    void onRemoteControl() override { ran.push_back(ID_REMOTE_CONTROL); }
    void onLoginError() override { ran.push_back(ID_LOGIN_ERROR); }
    void onCompressionError() override { ran.push_back(ID_COMPRESSION_ERROR); }
    void onAbout() override { ran.push_back(ID_APP_ABOUT); }
    void onExit() override { ran.push_back(ID_APP_EXIT); }
    void onUnattended() override { ran.push_back(ID_UNATTENDED); }
    void onPatrolSetup() override { ran.push_back(ID_PATROL_SETUP); }
    void onPatrolRun() override { ran.push_back(ID_PATROL_RUN); }
    void onPatrolStop() override { ran.push_back(ID_PATROL_STOP); }
    void onPatrolReport() override { ran.push_back(ID_PATROL_REPORT); }
    void onNetworkModems() override { ran.push_back(ID_NETWORK_MODEMS); }
};

} // namespace

TEST(CommandRules, EachLineStateEnablesExactlyItsCommands) {
    const std::vector<LineCase> cases = {
        {"no modem", Make(false, false, false, false, false, 0), {ID_LISTEN}},
        {"line closed", Make(false, false, false, false, false), {ID_LISTEN, ID_SELECT_MODEM}},
        {"listening", Make(true, false, false, false, false), {ID_CONNECT, ID_SELECT_MODEM}},
        {"dialing or answering", Make(true, true, false, false, false), {ID_HANG_UP}},
        {"connected, no channel list", Make(true, true, true, false, false), {ID_HANG_UP, ID_VIDEO_WINDOW}},
        {"connected, channels but no permission",
         Make(true, true, true, false, true),
         {ID_HANG_UP, ID_VIDEO_WINDOW}},
        {"connected, may open",
         Make(true, true, true, true, true),
         {ID_HANG_UP, ID_VIDEO_WINDOW, ID_OPEN_CHANNEL}},
        {"permission, empty table", Make(true, true, true, true, false), {ID_HANG_UP, ID_VIDEO_WINDOW}},
        // The line closed under a running call (the service reported it gone).
        {"call without line",
         Make(false, true, true, true, true),
         {ID_LISTEN, ID_VIDEO_WINDOW, ID_OPEN_CHANNEL}},
        // Modems still looked for: the line commands are taken and wait.
        {"looking for modems",
         [] {
             FrameState s = Make(false, false, false, false, false, 0);
             s.discovering = true;
             return s;
         }(),
         {ID_CONNECT, ID_LISTEN, ID_SELECT_MODEM}},
    };
    for (const LineCase& c : cases) {
        for (int id : kRuled)
            EXPECT_EQ(isCommandEnabled(id, c.state), c.enabled.count(id) == 1) << c.name << ": " << id;
        // Commands without a rule are enabled in every state.
        for (int id : {ID_PHONE_BOOK, ID_TOOLBAR, ID_EVENT_NOTIFY, ID_PLAYBACK, ID_OPTIONS, ID_RECORD_PATH,
                       ID_SETUP_PASSWORD, ID_HELP, ID_REMOTE_CONTROL, ID_LOGIN_ERROR, ID_COMPRESSION_ERROR,
                       ID_APP_ABOUT, ID_APP_EXIT})
            EXPECT_TRUE(isCommandEnabled(id, c.state)) << c.name << ": " << id;
    }
}

TEST(CommandRules, WindowCountSizeModeBarsAndAlarm) {
    FrameState s;
    EXPECT_FALSE(isCommandEnabled(ID_ARRANGE, s));
    EXPECT_FALSE(isCommandEnabled(ID_CHANGE_SIZE, s));
    s.windowCount = 1;
    EXPECT_TRUE(isCommandEnabled(ID_ARRANGE, s));
    EXPECT_TRUE(isCommandEnabled(ID_CHANGE_SIZE, s));
    EXPECT_FALSE(isCommandChecked(ID_CHANGE_SIZE, s));
    s.sizeMode = true;
    EXPECT_TRUE(isCommandChecked(ID_CHANGE_SIZE, s));
    EXPECT_TRUE(isCommandChecked(ID_TOOLBAR, s));
    s.barsShown = false;
    EXPECT_FALSE(isCommandChecked(ID_TOOLBAR, s));
    EXPECT_FALSE(isCommandEnabled(ID_STOP_ALARM, s));
    s.alarmPlaying = true;
    EXPECT_TRUE(isCommandEnabled(ID_STOP_ALARM, s));
    // Only the two flags are check marks.
    for (const CommandEntry& e : frameCommandTable())
        if (e.id != ID_CHANGE_SIZE && e.id != ID_TOOLBAR) {
            EXPECT_FALSE(isCommandChecked(e.id, s)) << e.id;
        }
}

TEST(CommandRules, DispatchRunsOnlyEnabledKnownCommands) {
    Recorder target;
    const FrameState idle = Make(false, false, false, false, false);
    // Commands the connection posts, arriving while their rule says no.
    EXPECT_FALSE(dispatchFrameCommand(ID_HANG_UP, idle, target));
    EXPECT_FALSE(dispatchFrameCommand(ID_OPEN_CHANNEL, idle, target));
    // The rule-less posted commands always run.
    EXPECT_TRUE(dispatchFrameCommand(ID_LOGIN_ERROR, idle, target));
    EXPECT_TRUE(dispatchFrameCommand(ID_COMPRESSION_ERROR, idle, target));
    // A command of a channel window, or an unknown one, is not the main window's.
    EXPECT_FALSE(dispatchFrameCommand(32774, idle, target));
    EXPECT_FALSE(dispatchFrameCommand(0, idle, target));
    const FrameState connected = Make(true, true, true, true, true);
    EXPECT_TRUE(dispatchFrameCommand(ID_HANG_UP, connected, target));
    EXPECT_TRUE(dispatchFrameCommand(ID_OPEN_CHANNEL, connected, target));
    EXPECT_EQ(target.ran,
              (std::vector<int>{ID_LOGIN_ERROR, ID_COMPRESSION_ERROR, ID_HANG_UP, ID_OPEN_CHANNEL}));
}

TEST(CommandRules, EveryCommandReachesItsOwnHandler) {
    std::set<int> ids;
    for (const CommandEntry& e : frameCommandTable()) {
        Recorder target;
        FrameState all = Make(false, false, true, true, true);
        all.windowCount = 1;
        all.alarmPlaying = true;
        if (e.id == ID_CONNECT || e.id == ID_HANG_UP || e.id == ID_PATROL_RUN) {
            all.lineOpen = true;
            all.callPresent = e.id == ID_HANG_UP;
        }
        all.patrolRunning = e.id == ID_PATROL_STOP;
        ASSERT_TRUE(dispatchFrameCommand(e.id, all, target)) << e.id;
        EXPECT_EQ(target.ran, std::vector<int>{e.id});
        EXPECT_TRUE(ids.insert(e.id).second) << "listed twice: " << e.id;
        EXPECT_TRUE((e.id >= 32771 && e.id <= 32813) || (e.id >= 33020 && e.id <= 33049) || e.id == 57664 ||
                    e.id == 57665)
            << e.id;
    }
    EXPECT_EQ(ids.size(), 28u);
}

TEST(CommandRules, RedialAndPatrolStatesEnableTheirCommands) {
    // A redial waiting between attempts: no call, yet Hang up ends the series,
    // and no patrol starts beside it.
    FrameState redial = Make(true, false, false, false, false);
    redial.redialPending = true;
    EXPECT_TRUE(isCommandEnabled(ID_HANG_UP, redial));
    EXPECT_TRUE(isCommandEnabled(ID_CONNECT, redial));
    EXPECT_FALSE(isCommandEnabled(ID_PATROL_RUN, redial));

    // A patrol starts on a free listening line only, and once.
    FrameState idle = Make(true, false, false, false, false);
    EXPECT_TRUE(isCommandEnabled(ID_PATROL_RUN, idle));
    EXPECT_FALSE(isCommandEnabled(ID_PATROL_STOP, idle));
    EXPECT_FALSE(isCommandEnabled(ID_PATROL_RUN, Make(true, true, false, false, false)));
    EXPECT_FALSE(isCommandEnabled(ID_PATROL_RUN, Make(false, false, false, false, false)));
    idle.patrolRunning = true;
    EXPECT_FALSE(isCommandEnabled(ID_PATROL_RUN, idle));
    EXPECT_TRUE(isCommandEnabled(ID_PATROL_STOP, idle));
    // Without either, the states the other commands see are unchanged.
    EXPECT_FALSE(isCommandEnabled(ID_HANG_UP, Make(true, false, false, false, false)));
}

// The volume query hangs, as statvfs on a hung network volume does: the
// caller never waits, only the newest folder asked for meanwhile is read,
// and a probe destroyed while the query hangs does not wait for it either.
TEST(VolumeProbe, AHungVolumeNeverHoldsUpTheCaller) {
    auto volumeAnswers = std::make_shared<std::atomic<bool>>(false);
    auto asked = std::make_shared<std::vector<std::string>>();
    auto askedMutex = std::make_shared<std::mutex>();
    const auto query = [=](const std::string& folder) {
        {
            std::lock_guard lock(*askedMutex);
            asked->push_back(folder);
        }
        while (!*volumeAnswers)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return VolumeProbe::Reading{uint32_t(folder.size()), folder};
    };
    const auto askedCount = [=] {
        std::lock_guard lock(*askedMutex);
        return asked->size();
    };
    std::vector<std::string> got;
    const auto collect = [&](const VolumeProbe::Reading& reading) {
        got.push_back(reading.mountPoint);
    };
    {
        VolumeProbe probe(query);
        const auto started = std::chrono::steady_clock::now();
        probe.request("/a", collect);
        while (askedCount() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        probe.request("/b", collect);
        probe.request("/c", collect);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
        *volumeAnswers = true;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < 2 && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_EQ(got, (std::vector<std::string>{"/a", "/c"}));
        EXPECT_EQ(askedCount(), 2u);
    }
    *volumeAnswers = false;
    const auto started = std::chrono::steady_clock::now();
    {
        VolumeProbe probe(query);
        probe.request("/d", collect);
        while (askedCount() == 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    *volumeAnswers = true; // the abandoned query ends on its own
    QCoreApplication::processEvents();
    EXPECT_EQ(got.size(), 2u) << "a probe's readings end with it";
}

TEST(DiskWatch, StoredValuesFallBackToDefaults) {
    EXPECT_EQ(DiskWatch(0, 0).thresholdMB(), 50u);
    EXPECT_EQ(DiskWatch(uint32_t(-1), uint32_t(-1)).thresholdMB(), 50u); // absent settings
    EXPECT_EQ(DiskWatch(10000, 301).intervalMs(), 10000);
    EXPECT_EQ(DiskWatch(9999, 300).thresholdMB(), 9999u);
    EXPECT_EQ(DiskWatch(9999, 300).intervalMs(), 300000);
}

TEST(DiskWatch, WarnsOnceUntilOptionsAndBlinksWhileBelow) {
    DiskWatch watch(100, 10);
    EXPECT_FALSE(watch.check(500));
    EXPECT_FALSE(watch.below());
    EXPECT_TRUE(watch.check(99));
    EXPECT_TRUE(watch.below());
    std::vector<bool> phases{watch.blinkPhase()};
    for (int i = 0; i < 360; ++i) { // an hour of checks
        EXPECT_FALSE(watch.check(10));
        phases.push_back(watch.blinkPhase());
    }
    for (size_t i = 1; i < phases.size(); ++i)
        EXPECT_NE(phases[i], phases[i - 1]);
    watch.reconfigure(100, 20);
    EXPECT_EQ(watch.intervalMs(), 20000);
    EXPECT_TRUE(watch.check(10));
    // Free space equal to the threshold is not below it.
    EXPECT_FALSE(watch.check(100));
    EXPECT_FALSE(watch.below());
}

TEST(DiskWatch, ThresholdZeroFromOptionsSwitchesTheCheckOff) {
    DiskWatch watch(100, 10);
    watch.check(5);
    const bool phase = watch.blinkPhase();
    watch.reconfigure(0, 10);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(watch.check(0));
    EXPECT_TRUE(watch.below()); // the dot stays as it was
    EXPECT_EQ(watch.blinkPhase(), phase);
    EXPECT_EQ(DiskWatch::paneText(51234, "/home"), QStringLiteral("51234 MB Free on /home"));
}
