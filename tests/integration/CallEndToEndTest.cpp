// Whole calls against the simulated modem and site on a pseudo-terminal: the
// telephony service, the line control, the connection and the login with the
// stored "Call" values, dialled and answered, ended by either side. Windows
// are test doubles; everything else is the program's own.
#include "AppConnectionStore.h"
#include "ChannelChoiceDialog.h"
#include "ChannelTable.h"
#include "CodecDecompressorFactory.h"
#include "CommPort.h"
#include "DialStatusDialog.h"
#include "DialStatusDialogFactory.h"
#include "HayesTelephony.h"
#include "LineManager.h"
#include "LinkDoubles.h"
#include "PatrolRunner.h"
#include "Reconnector.h"
#include "RegistryStore.h"
#include "ScriptedDialogService.h"
#include "SiteSimProcess.h"
#include "TelephonyTestSupport.h"
#include "TempDir.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QThreadPool>
#include <QWidget>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The program's side of a call, wired as the main window wires it: the line
// control owns the connection, the dialing status window drops the call.
class Program final : public MainWindowCommands {
public:
    Program(const std::string& modemPath, ConnectionStore& store, FakeHost& host, TestHost& watchdog)
        : m_host(host)
        , m_service(Sources(modemPath), ModemTimings())
        , m_comm(new CommPort(m_dialogs, store, m_channels, m_codecs, PortOptions()))
        , m_dialStatus(&m_mainWindow, m_lines)
        , m_lines(m_service, std::unique_ptr<CallPort>(m_comm), m_dialStatus, watchdog, LineTimings()) {
        m_comm->AttachMainWindow(this, &host, &host);
    }

    LineManager& lines() { return m_lines; }
    CommPort& comm() { return *m_comm; }
    const ChannelTable& channels() const { return m_channels; }
    DialStatusDialogFactory& dialStatus() { return m_dialStatus; }
    int alarms = 0;

    // The main window's part: the channel prompt runs the channel choice and
    // opens the channel it offers first; a hang-up request or a rejected
    // login resets the line.
    void OnPostedCommand(int command) override {
        m_host.commands.push_back(command);
        if (command == kCommandOpenChannel && m_comm->CanOpenChannel()) {
            ChannelChoiceDialog choice(m_channels);
            m_comm->RequestOpenChannel(choice.channel());
        } else if (command == kCommandHangUp || command == kCommandLoginError) {
            m_lines.ResetLine();
        }
    }
    bool IsMaximized() const override { return true; }
    void Maximize() override {}
    bool BarsShown() const override { return true; }
    void StartAlarm() override { ++alarms; }

private:
    static PortSources Sources(const std::string& path) {
        PortSources sources;
        sources.explicitPaths = {path};
        return sources;
    }
    static HayesTimings ModemTimings() {
        HayesTimings t;
        t.probeAnswerMs = 300;
        t.commandMs = 2000;
        t.guardMs = 150; // the simulator's guard time is 100 ms
        t.dtrDropMs = 50;
        t.ringGapMs = 3000;
        t.answerMs = 5000;
        t.carrierPollMs = 50;
        return t;
    }
    static CommPortOptions PortOptions() {
        CommPortOptions options;
        options.timerPeriod = 20ms;
        options.stopBound = 3000ms;
        return options;
    }
    static LineManager::Timings LineTimings() {
        LineManager::Timings t;
        t.answerPauseMs = 300;
        t.answerWatchdogMs = 20000;
        t.replyWaitMs = 5000;
        t.noAnswerTimeoutS = 5;
        return t;
    }

    FakeHost& m_host;
    ScriptedDialogService m_dialogs;
    ChannelTable m_channels;
    CodecDecompressorFactory m_codecs;
    QWidget m_mainWindow;
    tel::HayesTelephony m_service;
    CommPort* m_comm; // owned by m_lines
    DialStatusDialogFactory m_dialStatus;
    LineManager m_lines;
};

class CallEndToEndTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--dial-delay",    "50",
                                         "--answer-delay",  "30",
                                         "--ring-interval", "200",
                                         "--guard-ms",      "100",
                                         "--user",          "op",
                                         "--password",      "pw",
                                         "--site-name",     "North Gate",
                                         "--site-tel",      "555 0101",
                                         "--channel",       "1:Gate,codec=rgb,fps=10,size=160x120",
                                         "--channel",       "2:Yard,codec=mjpg,fps=10"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(sim.start(dir.path(), args, error)) << error;
        program = std::make_unique<Program>(sim.linkPath(), connection, host, watchdog);
        ASSERT_TRUE(program->lines().Reinitialize(-1));
        ASSERT_TRUE(program->lines().IsLineOpen());
        ASSERT_TRUE(WaitForLog({"\"line\":\"ATE0V1"}));
    }
    void TearDown() override {
        if (!HasFailure())
            return;
        const auto lines = sim.logLines();
        std::string tail;
        for (size_t i = lines.size() > 60 ? lines.size() - 60 : 0; i < lines.size(); ++i)
            tail += lines[i] + "\n";
        ADD_FAILURE() << "simulator log (last lines):\n" << tail;
    }
    // Runs the event loop until the simulator logged a line with every fragment.
    bool WaitForLog(const std::vector<std::string>& fragments, size_t skip = 0, int ms = 8000) {
        return WaitUntil([&] { return !sim.waitForLog(fragments, 0ms, skip).empty(); }, ms);
    }
    size_t LogSize() const { return sim.logLines().size(); }
    // Index of the first log line from `skip` on with every fragment; -1 when none.
    long LogIndex(const std::vector<std::string>& fragments, size_t skip = 0) const {
        const auto lines = sim.logLines();
        for (size_t i = skip; i < lines.size(); ++i) {
            bool all = true;
            for (const auto& f : fragments)
                all = all && lines[i].find(f) != std::string::npos;
            if (all)
                return long(i);
        }
        return -1;
    }
    int WindowsWithFrames(size_t frames) const {
        int n = 0;
        for (const auto& w : host.windows)
            n += w->drawn.size() >= frames;
        return n;
    }
    void DialAndConnect(const QString& number) {
        ASSERT_TRUE(program->lines().Dial(number));
        ASSERT_TRUE(WaitUntil([&] { return program->comm().IsOpen(); }, 8000));
        EXPECT_FALSE(program->comm().IsAnswered());
        EXPECT_TRUE(program->lines().IsConnected());
        EXPECT_EQ(program->dialStatus().openWindow(), nullptr);
    }

    TempDir dir{"dialscope-call"};
    SiteSimProcess sim;
    RegistryStore user{dir.file("user.sqlite")};
    RegistryStore machine{dir.file("machine.sqlite")};
    AppStore store{user, machine};
    AppConnectionStore connection{store};
    FakeHost host;
    TestHost watchdog;
    std::unique_ptr<Program> program;
};

TEST_F(CallEndToEndTest, DialledCallLogsInWithTheCallValuesShowsChannelsAndHangsUpWithTheEscape) {
    Start();
    // "Save" off: the dialog would hide the password, the login still sends it.
    ASSERT_TRUE(store.SaveCallSettings({"op", "pw", "555-0101", 0, 70, 0}));
    DialAndConnect(QString::fromStdString(store.GetCallSettings().dial));
    EXPECT_TRUE(WaitForLog({"\"action\":\"dial\"", "\"number\":\"5550101\""}));
    ASSERT_TRUE(WaitForLog({"\"name\":\"Login\"", "\"user\":\"op\"", "\"password\":\"pw\"", "\"imageSize\":0",
                            "\"quality\":70", "\"accepted\":true"}));

    // Channel list, prompt, the first channel opened, its frames in a window.
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(2) == 1; }, 8000));
    ASSERT_EQ(program->channels().rows().size(), 2u);
    EXPECT_EQ(host.commands, std::vector<int>{kCommandOpenChannel});
    EXPECT_TRUE(WaitForLog({"\"name\":\"OpenChannel\"", "\"value\":1"}));
    EXPECT_EQ(host.windows[0]->info.channel, 1);
    EXPECT_EQ(host.windows[0]->info.streamKey, 1001);
    EXPECT_EQ(LogIndex({"\"name\":\"SiteInfoRequest\""}), -1);
    EXPECT_EQ(program->alarms, 0);
    EXPECT_TRUE(host.windows[0]->commands.empty());
    EXPECT_TRUE(host.status.last().startsWith("Connect:  "));

    // Hang up (the main window's command): escape, ATH0, the line listens on.
    const size_t before = LogSize();
    program->lines().ResetLine();
    EXPECT_FALSE(program->comm().IsOpen());
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    EXPECT_FALSE(program->lines().HasCall());
    EXPECT_TRUE(program->lines().IsLineOpen());
    const long escape = LogIndex({"\"event\":\"escape\""}, before);
    ASSERT_GE(escape, 0);
    EXPECT_GT(LogIndex({"\"line\":\"ATH0\""}, size_t(escape)), escape);

    const size_t rings = LogSize();
    ASSERT_EQ(sim.command("ring"), "OK");
    EXPECT_TRUE(WaitForLog({"\"line\":\"ATA\""}, rings));
}

TEST_F(CallEndToEndTest, BusyNoAnswerAndNoDialToneResetTheLineAndLeaveItListening) {
    Start({"--number", "1=BUSY", "--number", "2=NO ANSWER", "--number", "3=NO DIALTONE"});
    for (const char* number : {"1", "2", "3"}) {
        SCOPED_TRACE(number);
        const size_t before = LogSize();
        ASSERT_TRUE(program->lines().Dial(QString::fromLatin1(number)));
        // The line is closed and opened again: the modem is set up anew.
        ASSERT_TRUE(WaitForLog({"\"line\":\"ATZ\""}, before));
        ASSERT_TRUE(
            WaitUntil([&] { return !program->lines().HasCall() && program->lines().IsLineOpen(); }, 5000));
        EXPECT_EQ(program->dialStatus().openWindow(), nullptr);
        EXPECT_FALSE(program->comm().IsOpen());
    }
    EXPECT_GE(LogIndex({"\"text\":\"BUSY\""}), 0);
    EXPECT_GE(LogIndex({"\"text\":\"NO ANSWER\""}), 0);
    EXPECT_GE(LogIndex({"\"text\":\"NO DIALTONE\""}), 0);
    EXPECT_TRUE(host.status.isEmpty()); // the connection never started

    const size_t rings = LogSize();
    ASSERT_EQ(sim.command("ring"), "OK");
    EXPECT_TRUE(WaitForLog({"\"line\":\"ATA\""}, rings));
}

TEST_F(CallEndToEndTest, AnsweredCallLogsInWithFixedCredentialsFilesTheSiteAndRecordsEveryChannel) {
    Start();
    ASSERT_TRUE(store.SaveCallSettings({"op", "pw", "555", 1, 30, 1}));
    QElapsedTimer sinceRing;
    sinceRing.start();
    ASSERT_EQ(sim.command("ring"), "OK");
    ASSERT_TRUE(WaitUntil([&] { return program->lines().IsAnswering(); }, 5000));
    ASSERT_TRUE(WaitForLog({"\"line\":\"ATA\""}));
    // The pause before answering (its timer may fire a little early).
    EXPECT_GE(sinceRing.elapsed(), 270);
    EXPECT_EQ(LogIndex({"\"line\":\"ATA\""}, LogIndex({"\"line\":\"ATA\""}) + 1), -1); // answered once
    ASSERT_TRUE(WaitUntil([&] { return program->comm().IsOpen(); }, 8000));
    EXPECT_TRUE(program->comm().IsAnswered());
    EXPECT_TRUE(watchdog.watchdogRunning);

    ASSERT_TRUE(WaitForLog(
        {"\"name\":\"Login\"", "\"user\":\"Rav-Lookout\"", "\"password\":\"Q-Lynx\"", "\"accepted\":true"}));
    ASSERT_TRUE(WaitForLog({"\"name\":\"SiteInfoRequest\""}));
    EXPECT_LT(LogIndex({"\"name\":\"Login\""}), LogIndex({"\"name\":\"SiteInfoRequest\""}));

    // Every channel the site sends gets a window that records and snapshots at once.
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(2) == 2; }, 8000));
    EXPECT_EQ(program->alarms, 2);
    // The commands are posted: they arrive from the event loop after the frame.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return std::all_of(host.windows.begin(), host.windows.end(),
                               [](const auto& w) { return w->commands.size() >= 2; });
        },
        2000));
    for (const auto& w : host.windows)
        EXPECT_EQ(w->commands, (std::vector<int>{kCommandStartRecord, kCommandSnapshot}));

    std::vector<EventRecord> events;
    ASSERT_TRUE(WaitUntil(
        [&] {
            events.clear();
            store.LoadEventRecords(events);
            return !events.empty();
        },
        3000));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text(EventRecord::kName), "North Gate");
    EXPECT_EQ(events[0].text(EventRecord::kTel), "555 0101");
    EXPECT_EQ(events[0].ID.size(), 14u);

    program->lines().OnAnswerWatchdog(); // fires after the connect: the call stays
    EXPECT_TRUE(program->comm().IsOpen());
}

TEST_F(CallEndToEndTest, FarEndHangUpStopsThePortResetsTheLineAndFindsTheModemAgain) {
    Start();
    ASSERT_TRUE(store.SaveCallSettings({"op", "pw", "555", 1, 30, 0}));
    DialAndConnect("555");
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(1) == 1; }, 8000));

    const size_t before = LogSize();
    ASSERT_EQ(sim.command("hangup"), "OK");
    ASSERT_TRUE(WaitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    // The modem is set up again on the fresh terminal behind the same path.
    ASSERT_TRUE(WaitForLog({"\"line\":\"ATZ\""}, before));
    ASSERT_TRUE(
        WaitUntil([&] { return !program->lines().HasCall() && program->lines().IsLineOpen(); }, 5000));

    host.windows.clear();
    DialAndConnect("556");
    EXPECT_TRUE(WaitUntil([&] { return WindowsWithFrames(1) == 1; }, 8000));
    program->lines().ResetLine();
}

TEST_F(CallEndToEndTest, HangUpFromTheDialingWindowWhileDialingKeepsTheLineListening) {
    Start({"--number", "42=CONNECT@3000"});
    ASSERT_TRUE(program->lines().Dial("42"));
    DialStatusDialog* window = program->dialStatus().openWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitForLog({"\"action\":\"dial\"", "\"number\":\"42\""}));
    window->findChild<QPushButton*>("button1069")->click();
    ASSERT_TRUE(WaitUntil([&] { return program->dialStatus().openWindow() == nullptr; }, 5000));
    EXPECT_FALSE(program->lines().HasCall());
    EXPECT_TRUE(program->lines().IsLineOpen());
    EXPECT_FALSE(program->comm().IsOpen());
    EXPECT_GE(LogIndex({"\"action\":\"aborted\""}), 0);
}

// A far-end hang-up with the reconnect option on: the same number is dialled
// again after the first wait (a busy attempt counts and waits for the next),
// the login uses the credentials of the dropped call, the channels open again
// in their order without the site's prompt reaching the operator, and the
// channel that was recording records again.
TEST_F(CallEndToEndTest, DroppedCallIsRedialledAndReopensItsChannelsInOrder) {
    Start();
    ASSERT_TRUE(store.SaveCallSettings({"op", "pw", "555", 1, 30, 0}));
    RedialScheduler::TimePoint now{};
    Reconnector reconnect(
        program->lines(), program->comm(), connection, host, [&] { return now; },
        std::chrono::hours(1)); // ticks by hand only
    reconnect.Configure(true, 3);
    program->lines().SetCallEndObserver([&](const CallEnd& end) { reconnect.OnCallEnd(end); });

    reconnect.NoteOperatorDial("555");
    DialAndConnect("555");
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(1) == 1; }, 8000));
    // Channel 2 after channel 1, and channel 2 records.
    ASSERT_TRUE(program->comm().RequestOpenChannel(2));
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(1) == 2; }, 8000));
    ASSERT_EQ(host.windows[1]->info.channel, 2);
    host.windows[1]->recording = true;

    ASSERT_EQ(sim.command("dial-result BUSY"), "OK");
    ASSERT_EQ(sim.command("hangup"), "OK");
    ASSERT_TRUE(WaitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    ASSERT_TRUE(
        WaitUntil([&] { return !program->lines().HasCall() && program->lines().IsLineOpen(); }, 5000));
    ASSERT_TRUE(reconnect.Pending());
    reconnect.Tick();
    EXPECT_EQ(host.status.last(), "Reconnecting in 10 s (attempt 1 of 3)");
    EXPECT_FALSE(program->lines().HasCall());

    // Attempt 1 finds the site busy: it counts, attempt 2 waits 30 s.
    now += std::chrono::seconds(10);
    size_t before = LogSize();
    reconnect.Tick();
    ASSERT_TRUE(WaitForLog({"\"text\":\"BUSY\""}, before));
    ASSERT_TRUE(WaitUntil([&] { return reconnect.Scheduler().Attempt() == 2; }, 5000));
    ASSERT_TRUE(
        WaitUntil([&] { return !program->lines().HasCall() && program->lines().IsLineOpen(); }, 5000));
    now += std::chrono::seconds(5);
    reconnect.Tick();
    EXPECT_EQ(host.status.last(), "Reconnecting in 25 s (attempt 2 of 3)");

    // The operator's values change meanwhile; the redial keeps the dropped call's.
    ASSERT_TRUE(store.SaveCallSettings({"other", "secret", "777", 1, 30, 0}));
    ASSERT_EQ(sim.command("dial-result CONNECT"), "OK");
    host.windows.clear();
    host.commands.clear();
    now += std::chrono::seconds(25);
    before = LogSize();
    reconnect.Tick();
    ASSERT_TRUE(WaitUntil([&] { return program->comm().IsOpen(); }, 8000));
    EXPECT_TRUE(WaitForLog({"\"action\":\"dial\"", "\"number\":\"555\""}, before));
    ASSERT_TRUE(WaitForLog({"\"name\":\"Login\"", "\"user\":\"op\"", "\"accepted\":true"}, before));
    ASSERT_TRUE(WaitUntil([&] { return WindowsWithFrames(2) == 2; }, 8000));
    const long first = LogIndex({"\"name\":\"OpenChannel\"", "\"value\":1"}, before);
    const long second = LogIndex({"\"name\":\"OpenChannel\"", "\"value\":2"}, before);
    ASSERT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_TRUE(host.commands.empty()); // no channel prompt for the operator
    ASSERT_TRUE(WaitUntil(
        [&] { return !host.windows[0]->commands.empty() || !host.windows[1]->commands.empty(); }, 2000));
    for (const auto& w : host.windows) {
        SCOPED_TRACE(w->info.channel);
        EXPECT_EQ(w->commands,
                  w->info.channel == 2 ? std::vector<int>{kCommandStartRecord} : std::vector<int>{});
    }
    reconnect.Tick();
    EXPECT_FALSE(reconnect.Pending()); // logged in: the series is over

    // The operator's hang-up is not a drop: nothing is redialled.
    program->lines().ResetLine();
    reconnect.Tick();
    EXPECT_FALSE(reconnect.Pending());
}

// A patrol round over three sites behind the simulated modem, the second one
// busy: every channel of a reached site leaves its first picture as a 24-bit
// bitmap, the busy site is called once more after the last one, and the
// report says who was reached and why not.
TEST_F(CallEndToEndTest, PatrolRoundCallsEverySiteAndRetriesTheBusyOneAtTheEnd) {
    Start({"--number", "2=BUSY"});
    PatrolRunner::Options options;
    options.tick = std::chrono::milliseconds(20);
    options.connectTimeout = std::chrono::milliseconds(8000);
    options.frameTimeout = std::chrono::milliseconds(5000);
    options.recordFolder = [&] {
        return dir.path() + "/";
    };
    options.now = [] {
        return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    };
    PatrolRunner patrol(program->lines(), program->comm(), program->channels(), options);
    program->lines().SetCallEndObserver([&](const CallEnd& end) { patrol.OnCallEnd(end); });
    program->comm().SetFrameObserver(
        [&](int32_t channel, std::span<const uint8_t> picture) { patrol.OnFrame(channel, picture); });
    const LoginValues login{"op", "pw", 1, 30};
    std::optional<PatrolReport> finished;
    patrol.SetFinished([&](const PatrolReport& report) { finished = report; });

    ASSERT_TRUE(patrol.Start({{"North/Gate", "1", login}, {"Yard", "2", login}, {"Dock", "3", login}}));
    EXPECT_FALSE(patrol.Start({{"again", "4", login}})); // one round at a time
    ASSERT_TRUE(WaitUntil([&] { return finished.has_value(); }, 60000));
    QThreadPool::globalInstance()->waitForDone();

    // Dialled in order, the busy site once more at the end, each with its own login.
    std::vector<std::string> dialled;
    for (const std::string& line : sim.logLines()) {
        for (const char* number : {"1", "2", "3"}) {
            if (line.find("\"action\":\"dial\"") != std::string::npos &&
                line.find("\"number\":\"" + std::string(number) + "\"") != std::string::npos)
                dialled.push_back(number);
        }
    }
    EXPECT_EQ(dialled, (std::vector<std::string>{"1", "2", "3", "2"}));

    const PatrolReport& report = *finished;
    EXPECT_EQ(report.folder, "patrol/20260304-050607");
    ASSERT_EQ(report.sites.size(), 3u);
    EXPECT_FALSE(report.AllReached());
    EXPECT_FALSE(report.sites[1].reached);
    EXPECT_EQ(report.sites[1].result, "busy");
    EXPECT_TRUE(report.sites[1].channels.empty());
    for (size_t i : {0u, 2u}) {
        const PatrolSiteResult& site = report.sites[i];
        SCOPED_TRACE(site.name.toStdString());
        EXPECT_TRUE(site.reached);
        EXPECT_EQ(site.result, "reached");
        ASSERT_EQ(site.channels.size(), 2u);
        for (const PatrolChannelResult& channel : site.channels) {
            const QString safe = i == 0 ? "North_Gate" : "Dock";
            EXPECT_EQ(channel.file, QString("patrol/20260304-050607/%1/%2.bmp")
                                        .arg(safe)
                                        .arg(channel.channel, 4, 10, QLatin1Char('0')));
            EXPECT_EQ(channel.result, "picture");
            QFile bitmap(QString::fromStdString(dir.path() + "/") + channel.file);
            ASSERT_TRUE(bitmap.open(QIODevice::ReadOnly)) << channel.file.toStdString();
            const QByteArray head = bitmap.read(30);
            ASSERT_EQ(head.size(), 30);
            EXPECT_EQ(head.left(2), "BM");
            EXPECT_EQ(uint8_t(head[28]), 24u); // bits per pixel
        }
    }
    // The report on disk says the same.
    QFile json(QString::fromStdString(patrol.RoundFolder()) + "report.json");
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const PatrolReport stored = PatrolReport::FromJson(json.readAll());
    ASSERT_EQ(stored.sites.size(), 3u);
    EXPECT_EQ(stored.sites[1].result, "busy");
    EXPECT_EQ(stored.sites[2].channels.size(), 2u);
    EXPECT_EQ(stored.sites[0].channels[0].file, report.sites[0].channels[0].file);

    // The line listens again afterwards.
    EXPECT_TRUE(
        WaitUntil([&] { return program->lines().IsLineOpen() && !program->lines().HasCall(); }, 5000));
}

} // namespace
