// The main window's enable and check rules in every line state, and the
// dispatch that asks them again when a command arrives.
#include "mainwnd/CommandTable.h"
#include "mainwnd/DiskWatch.h"
#include "mainwnd/VolumeProbe.h"
#include "res/StringTable.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include <map>
#include <set>
#include <utility>
#include <vector>

namespace {

struct LineCase {
    const char* name;
    FrameState state;
    std::set<CommandId> enabled; // of the commands that have a rule
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

const std::vector<CommandId> kRuled = {CommandId::Connect,     CommandId::HangUp,      CommandId::Listen,
                                       CommandId::SelectModem, CommandId::OpenChannel, CommandId::VideoWindow,
                                       CommandId::ChangeSize,  CommandId::Arrange,     CommandId::StopAlarm};

class Recorder final : public FrameCommands {
public:
    std::vector<CommandId> ran;
    void onConnect() override { ran.push_back(CommandId::Connect); }
    void onHangUp() override { ran.push_back(CommandId::HangUp); }
    void onListen() override { ran.push_back(CommandId::Listen); }
    void onPhoneBook() override { ran.push_back(CommandId::PhoneBook); }
    void onSelectModem() override { ran.push_back(CommandId::SelectModem); }
    void onOpenChannel() override { ran.push_back(CommandId::OpenChannel); }
    void onVideoWindow() override { ran.push_back(CommandId::VideoWindow); }
    void onChangeSize() override { ran.push_back(CommandId::ChangeSize); }
    void arrangeWindows() override { ran.push_back(CommandId::Arrange); }
    void onToolbar() override { ran.push_back(CommandId::Toolbar); }
    void onEventNotify() override { ran.push_back(CommandId::EventNotify); }
    void onPlayback() override { ran.push_back(CommandId::Playback); }
    void onOptions() override { ran.push_back(CommandId::Options); }
    void onRecordPath() override { ran.push_back(CommandId::RecordPath); }
    void onSetupPassword() override { ran.push_back(CommandId::SetupPassword); }
    void onStopAlarm() override { ran.push_back(CommandId::StopAlarm); }
    void onHelp() override { ran.push_back(CommandId::Help); }
    void onRemoteControl() override { ran.push_back(CommandId::RemoteControl); }
    void onLoginError() override { ran.push_back(CommandId::LoginError); }
    void onCompressionError() override { ran.push_back(CommandId::CompressionError); }
    void onAbout() override { ran.push_back(CommandId::AppAbout); }
    void onExit() override { ran.push_back(CommandId::AppExit); }
    void onUnattended() override { ran.push_back(CommandId::Unattended); }
    void onPatrolSetup() override { ran.push_back(CommandId::PatrolSetup); }
    void onPatrolRun() override { ran.push_back(CommandId::PatrolRun); }
    void onPatrolStop() override { ran.push_back(CommandId::PatrolStop); }
    void onPatrolReport() override { ran.push_back(CommandId::PatrolReport); }
    void onNetworkModems() override { ran.push_back(CommandId::NetworkModems); }
};

} // namespace

TEST(CommandRules, EachLineStateEnablesExactlyItsCommands) {
    const std::vector<LineCase> cases = {
        {"no modem", Make(false, false, false, false, false, 0), {CommandId::Listen}},
        {"line closed", Make(false, false, false, false, false), {CommandId::Listen, CommandId::SelectModem}},
        {"listening", Make(true, false, false, false, false), {CommandId::Connect, CommandId::SelectModem}},
        {"dialing or answering", Make(true, true, false, false, false), {CommandId::HangUp}},
        {"connected, no channel list",
         Make(true, true, true, false, false),
         {CommandId::HangUp, CommandId::VideoWindow}},
        {"connected, channels but no permission",
         Make(true, true, true, false, true),
         {CommandId::HangUp, CommandId::VideoWindow}},
        {"connected, may open",
         Make(true, true, true, true, true),
         {CommandId::HangUp, CommandId::VideoWindow, CommandId::OpenChannel}},
        {"permission, empty table",
         Make(true, true, true, true, false),
         {CommandId::HangUp, CommandId::VideoWindow}},
        // The line closed under a running call (the service reported it gone).
        {"call without line",
         Make(false, true, true, true, true),
         {CommandId::Listen, CommandId::VideoWindow, CommandId::OpenChannel}},
        // Modems still looked for: the line commands are taken and wait.
        {"looking for modems",
         [] {
             FrameState s = Make(false, false, false, false, false, 0);
             s.discovering = true;
             return s;
         }(),
         {CommandId::Connect, CommandId::Listen, CommandId::SelectModem}},
    };
    for (const LineCase& c : cases) {
        for (CommandId id : kRuled)
            EXPECT_EQ(isCommandEnabled(id, c.state), c.enabled.count(id) == 1)
                << c.name << ": " << commandNumber(id);
        // commands without a rule are enabled in every state.
        for (CommandId id :
             {CommandId::PhoneBook, CommandId::Toolbar, CommandId::EventNotify, CommandId::Playback,
              CommandId::Options, CommandId::RecordPath, CommandId::SetupPassword, CommandId::Help,
              CommandId::RemoteControl, CommandId::LoginError, CommandId::CompressionError,
              CommandId::AppAbout, CommandId::AppExit})
            EXPECT_TRUE(isCommandEnabled(id, c.state)) << c.name << ": " << commandNumber(id);
    }
}

TEST(CommandRules, WindowCountSizeModeBarsAndAlarm) {
    FrameState s;
    EXPECT_FALSE(isCommandEnabled(CommandId::Arrange, s));
    EXPECT_FALSE(isCommandEnabled(CommandId::ChangeSize, s));
    s.windowCount = 1;
    EXPECT_TRUE(isCommandEnabled(CommandId::Arrange, s));
    EXPECT_TRUE(isCommandEnabled(CommandId::ChangeSize, s));
    EXPECT_FALSE(isCommandChecked(CommandId::ChangeSize, s));
    s.sizeMode = true;
    EXPECT_TRUE(isCommandChecked(CommandId::ChangeSize, s));
    EXPECT_TRUE(isCommandChecked(CommandId::Toolbar, s));
    s.barsShown = false;
    EXPECT_FALSE(isCommandChecked(CommandId::Toolbar, s));
    EXPECT_FALSE(isCommandEnabled(CommandId::StopAlarm, s));
    s.alarmPlaying = true;
    EXPECT_TRUE(isCommandEnabled(CommandId::StopAlarm, s));
    // Only the two flags are check marks.
    for (const CommandEntry& e : frameCommandTable())
        if (e.id != CommandId::ChangeSize && e.id != CommandId::Toolbar) {
            EXPECT_FALSE(isCommandChecked(e.id, s)) << commandNumber(e.id);
        }
}

TEST(CommandRules, DispatchRunsOnlyEnabledKnownCommands) {
    Recorder target;
    const FrameState idle = Make(false, false, false, false, false);
    // Commands the connection posts, arriving while their rule says no.
    EXPECT_FALSE(dispatchFrameCommand(CommandId::HangUp, idle, target));
    EXPECT_FALSE(dispatchFrameCommand(CommandId::OpenChannel, idle, target));
    // The rule-less posted commands always run.
    EXPECT_TRUE(dispatchFrameCommand(CommandId::LoginError, idle, target));
    EXPECT_TRUE(dispatchFrameCommand(CommandId::CompressionError, idle, target));
    // A command of a channel window, or an unknown one, is not the main window's.
    EXPECT_FALSE(dispatchFrameCommand(CommandId::ChannelRecord, idle, target));
    EXPECT_FALSE(dispatchFrameCommand(CommandId{0}, idle, target));
    const FrameState connected = Make(true, true, true, true, true);
    EXPECT_TRUE(dispatchFrameCommand(CommandId::HangUp, connected, target));
    EXPECT_TRUE(dispatchFrameCommand(CommandId::OpenChannel, connected, target));
    EXPECT_EQ(target.ran, (std::vector<CommandId>{CommandId::LoginError, CommandId::CompressionError,
                                                  CommandId::HangUp, CommandId::OpenChannel}));
}

TEST(CommandRules, EveryCommandReachesItsOwnHandler) {
    std::set<CommandId> ids;
    for (const CommandEntry& e : frameCommandTable()) {
        Recorder target;
        FrameState all = Make(false, false, true, true, true);
        all.windowCount = 1;
        all.alarmPlaying = true;
        if (e.id == CommandId::Connect || e.id == CommandId::HangUp || e.id == CommandId::PatrolRun) {
            all.lineOpen = true;
            all.callPresent = e.id == CommandId::HangUp;
        }
        all.patrolRunning = e.id == CommandId::PatrolStop;
        ASSERT_TRUE(dispatchFrameCommand(e.id, all, target)) << commandNumber(e.id);
        EXPECT_EQ(target.ran, std::vector<CommandId>{e.id});
        EXPECT_TRUE(ids.insert(e.id).second) << "listed twice: " << commandNumber(e.id);
        const int number = commandNumber(e.id);
        EXPECT_TRUE((number >= 32771 && number <= 32813) || (number >= 33020 && number <= 33049) ||
                    number == 57664 || number == 57665)
            << number;
    }
    EXPECT_EQ(ids.size(), 28u);
}

// The numbers are fixed (stored values and peers compare them), each is used
// once, and a command's prompt is the string filed under its number.
TEST(CommandRules, CommandNumbersAreFixedAndPromptsFollowThem) {
    const std::pair<CommandId, int> numbers[] = {
        {CommandId::Connect, 32771},          {CommandId::HangUp, 32772},
        {CommandId::Playback, 32773},         {CommandId::ChannelRecord, 32774},
        {CommandId::ChannelStop, 32775},      {CommandId::ChannelFix, 32776},
        {CommandId::ChannelClose, 32777},     {CommandId::SelectModem, 32778},
        {CommandId::OpenChannel, 32779},      {CommandId::VideoWindow, 32780},
        {CommandId::ChangeSize, 32781},       {CommandId::Arrange, 32783},
        {CommandId::PhoneBook, 32784},        {CommandId::Toolbar, 32785},
        {CommandId::RecordPath, 32786},       {CommandId::Help, 32787},
        {CommandId::SetupPassword, 32788},    {CommandId::ChannelSnapshot, 32789},
        {CommandId::Options, 32790},          {CommandId::LoginError, 32791},
        {CommandId::Listen, 32792},           {CommandId::StopAlarm, 32793},
        {CommandId::EventNotify, 32794},      {CommandId::RemoteControl, 32796},
        {CommandId::CompressionError, 32798}, {CommandId::PlayerPlay, 32800},
        {CommandId::PlayerPause, 32801},      {CommandId::PlayerStop, 32802},
        {CommandId::PlayerFirstFrame, 32803}, {CommandId::PlayerRewind, 32804},
        {CommandId::PlayerForward, 32805},    {CommandId::PlayerLastFrame, 32806},
        {CommandId::PlayerIncrease, 32807},   {CommandId::PlayerDecrease, 32808},
        {CommandId::PlayerSnapshot, 32809},   {CommandId::ChannelAlone, 33000},
        {CommandId::ActivateChannel1, 33001}, {CommandId::ActivateChannel9, 33009},
        {CommandId::ActiveRecord, 33010},     {CommandId::ActiveStop, 33011},
        {CommandId::ActiveSnapshot, 33012},   {CommandId::CallPanel, 33013},
        {CommandId::CallLog, 33014},          {CommandId::Unattended, 33020},
        {CommandId::PatrolSetup, 33021},      {CommandId::PatrolRun, 33022},
        {CommandId::PatrolStop, 33023},       {CommandId::PatrolReport, 33024},
        {CommandId::NetworkModems, 33040},    {CommandId::PlayerExportClip, 33050},
        {CommandId::AppAbout, 57664},         {CommandId::AppExit, 57665}};
    std::set<int> seen;
    for (const auto& [id, number] : numbers) {
        EXPECT_EQ(commandNumber(id), number);
        EXPECT_TRUE(seen.insert(number).second) << "used twice: " << number;
    }

    // Menu, toolbar and channel window commands show the prompt filed under their number.
    for (CommandId id : {CommandId::Connect,       CommandId::HangUp,        CommandId::Playback,
                         CommandId::SelectModem,   CommandId::OpenChannel,   CommandId::VideoWindow,
                         CommandId::ChangeSize,    CommandId::Arrange,       CommandId::PhoneBook,
                         CommandId::Toolbar,       CommandId::RecordPath,    CommandId::Help,
                         CommandId::SetupPassword, CommandId::Options,       CommandId::Listen,
                         CommandId::StopAlarm,     CommandId::EventNotify,   CommandId::AppAbout,
                         CommandId::AppExit,       CommandId::ChannelRecord, CommandId::ChannelStop,
                         CommandId::ChannelFix,    CommandId::ChannelClose,  CommandId::ChannelSnapshot})
        EXPECT_TRUE(loadString(stringIdOf(id)).contains(QLatin1Char('\n'))) << commandNumber(id);

    // Ctrl+1 ... Ctrl+9 map to their places and back; nothing else has a place.
    for (int place = 1; place <= kActivatePlaces; ++place)
        EXPECT_EQ(activatedPlace(activateChannelCommand(place)), place);
    EXPECT_EQ(activateChannelCommand(kActivatePlaces), CommandId::ActivateChannel9);
    EXPECT_EQ(activatedPlace(CommandId::ChannelAlone), 0);
    EXPECT_EQ(activatedPlace(CommandId::ActiveRecord), 0);
}

TEST(CommandRules, RedialAndPatrolStatesEnableTheirCommands) {
    // A redial waiting between attempts: no call, yet Hang up ends the series,
    // and no patrol starts beside it.
    FrameState redial = Make(true, false, false, false, false);
    redial.redialPending = true;
    EXPECT_TRUE(isCommandEnabled(CommandId::HangUp, redial));
    EXPECT_TRUE(isCommandEnabled(CommandId::Connect, redial));
    EXPECT_FALSE(isCommandEnabled(CommandId::PatrolRun, redial));

    // A patrol starts on a free listening line only, and once.
    FrameState idle = Make(true, false, false, false, false);
    EXPECT_TRUE(isCommandEnabled(CommandId::PatrolRun, idle));
    EXPECT_FALSE(isCommandEnabled(CommandId::PatrolStop, idle));
    EXPECT_FALSE(isCommandEnabled(CommandId::PatrolRun, Make(true, true, false, false, false)));
    EXPECT_FALSE(isCommandEnabled(CommandId::PatrolRun, Make(false, false, false, false, false)));
    idle.patrolRunning = true;
    EXPECT_FALSE(isCommandEnabled(CommandId::PatrolRun, idle));
    EXPECT_TRUE(isCommandEnabled(CommandId::PatrolStop, idle));
    // Without either, the states the other commands see are unchanged.
    EXPECT_FALSE(isCommandEnabled(CommandId::HangUp, Make(true, false, false, false, false)));
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
