// Whole calls against the simulated modem and site on a pseudo-terminal (and
// behind a simulated serial device server, raw TCP and RFC 2217): the
// telephony service, the line control, the connection and the login with the
// stored "Call" values, dialled and answered, ended by either side. Windows
// are test doubles; everything else is the program's own.
#include "app/core/ChannelTable.h"
#include "calllog/CallJournal.h"
#include "connect/AppConnectionStore.h"
#include "connect/ChannelChoiceDialog.h"
#include "connect/ConnectForm.h"
#include "connect/DialStatusDialog.h"
#include "connect/DialStatusDialogFactory.h"
#include "link/CodecDecompressorFactory.h"
#include "link/CommPort.h"
#include "link/LineManager.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "platform/telephony/HayesTelephony.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/TempDir.h"
#include "tests/telephony/TelephonyTestSupport.h"
#include "tools/sitesim/SiteSimProcess.h"
#include "unattended/PatrolRunner.h"
#include "unattended/Reconnector.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QThreadPool>
#include <QWidget>
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The program's side of a call, wired as the main window wires it: the line
// control owns the connection, the dialing status window drops the call.
class Program final : public MainWindowCommands {
public:
    Program(const std::string& modemPath, ConnectionStore& store, FakeHost& host, TestHost& watchdog,
            const QString& logPath)
        : m_host(host)
        , log(logPath)
        , journal(&log, {[this] { return m_comm->counters(); }, {}, {}})
        , m_service(sources(modemPath), modemTimings())
        , m_comm(new CommPort(m_dialogs, store, m_channels, m_codecs, portOptions()))
        , m_dialStatus(&m_mainWindow, m_lines)
        , m_lines(m_service, std::unique_ptr<CallPort>(m_comm), m_dialStatus, watchdog, lineTimings()) {
        m_comm->attachMainWindow(this, &host, &host);
        m_lines.setCallEndSink(&journal);
    }

    LineManager& lines() { return m_lines; }
    CommPort& comm() { return *m_comm; }
    const ChannelTable& channels() const { return m_channels; }
    DialStatusDialogFactory& dialStatus() { return m_dialStatus; }
    int alarms = 0;

    // The main window's part: the channel prompt runs the channel choice and
    // opens the channel it offers first; a hang-up request or a rejected
    // login resets the line.
    void onPostedCommand(CommandId command) override {
        m_host.commands.push_back(command);
        if (command == CommandId::OpenChannel && m_comm->canOpenChannel()) {
            ChannelChoiceDialog choice(m_channels);
            m_comm->requestOpenChannel(choice.channel());
        } else if (command == CommandId::HangUp || command == CommandId::LoginError) {
            m_lines.ResetLine();
        }
    }
    bool isMaximized() const override { return true; }
    void maximize() override {}
    bool barsShown() const override { return true; }
    void startAlarm() override { ++alarms; }

private:
    static PortSources sources(const std::string& path) {
        PortSources sources;
        sources.explicitPaths = {path};
        return sources;
    }
    static HayesTimings modemTimings() {
        HayesTimings t;
        t.probeAnswerMs = 300;
        t.commandMs = 2000;
        t.guardMs = 150; // the simulator's guard time is 100 ms
        t.dtrDropMs = 50;
        t.ringGapMs = 3000;
        t.answerMs = 5000;
        t.carrierPollMs = 50;
        t.noCarrierQuietMs = 300;
        return t;
    }
    static CommPortOptions portOptions() {
        CommPortOptions options;
        options.timerPeriod = 20ms;
        options.stopBound = 3000ms;
        return options;
    }
    static LineManager::Timings lineTimings() {
        LineManager::Timings t;
        t.answerPauseMs = 300;
        t.answerWatchdogMs = 20000;
        t.replyWaitMs = 5000;
        t.noAnswerTimeoutS = 5;
        return t;
    }

    FakeHost& m_host;

public:
    // Every finished call is filed here, as the main window files it.
    CallLog log;
    CallJournal journal;

private:
    ScriptedDialogService m_dialogs;
    ChannelTable m_channels;
    CodecDecompressorFactory m_codecs;
    QWidget m_mainWindow;
    tel::HayesTelephony m_service;
    CommPort* m_comm; // owned by m_lines
    DialStatusDialogFactory m_dialStatus;
    LineManager m_lines;
};

void expectEachWindowShowsOnlyItsOwnStream(const FakeHost& host, size_t channels);

class CallEndToEndTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> extra = {},
               std::vector<std::string> channels = {"1:Gate,codec=rgb,fps=10,size=160x120",
                                                    "2:Yard,codec=mjpg,fps=10"}) {
        std::vector<std::string> args = {"--dial-delay",    "50",         "--answer-delay", "30",
                                         "--ring-interval", "200",        "--guard-ms",     "100",
                                         "--user",          "op",         "--password",     "pw",
                                         "--site-name",     "North Gate", "--site-tel",     "555 0101"};
        for (const std::string& channel : channels)
            args.insert(args.end(), {"--channel", channel});
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(sim.start(dir.path(), args, error)) << error;
        // With --tcp/--rfc2217 the program reaches the modem over the network.
        program = std::make_unique<Program>(sim.modemUrl(), connection, host, watchdog,
                                            QString::fromStdString(dir.file("calls.sqlite")));
        ASSERT_TRUE(program->lines().Reinitialize(-1));
        ASSERT_TRUE(program->lines().isLineOpen());
        ASSERT_TRUE(waitForLog({"\"line\":\"ATE0V1"}));
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
    bool waitForLog(const std::vector<std::string>& fragments, size_t skip = 0, int ms = 8000) {
        return waitUntil([&] { return !sim.waitForLog(fragments, 0ms, skip).empty(); }, ms);
    }
    size_t logSize() const { return sim.logLines().size(); }
    // Index of the first log line from `skip` on with every fragment; -1 when none.
    long logIndex(const std::vector<std::string>& fragments, size_t skip = 0) const {
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
    // The numbers the simulated modem was asked to dial, in order.
    std::vector<std::string> Dialled() const {
        std::vector<std::string> dialled;
        for (const std::string& line : sim.logLines()) {
            const size_t at = line.find("\"number\":\"");
            if (line.find("\"action\":\"dial\"") != std::string::npos && at != std::string::npos)
                dialled.push_back(line.substr(at + 10, line.find('"', at + 10) - (at + 10)));
        }
        return dialled;
    }
    int windowsWithFrames(size_t frames) const {
        int n = 0;
        for (const auto& w : host.windows)
            n += w->drawn.size() >= frames;
        return n;
    }
    void dialAndConnect(const QString& number) {
        ASSERT_TRUE(program->lines().Dial(number));
        ASSERT_TRUE(waitUntil([&] { return program->comm().IsOpen(); }, 8000));
        EXPECT_FALSE(program->comm().isAnswered());
        EXPECT_TRUE(program->lines().isConnected());
        EXPECT_EQ(program->dialStatus().openWindow(), nullptr);
    }

    // An answered call from a site sending `count` same-size channels of
    // `codec` with a key frame every fifth frame, until every window drew 12
    // pictures; then each window must show only its own stream.
    void runDeltaCodedCall(const char* codec, size_t count) {
        std::vector<std::string> channels;
        for (size_t c = 1; c <= count; ++c)
            channels.push_back(std::to_string(c) + ":Cam" + std::to_string(c) + ",codec=" + codec +
                               ",fps=12,size=160x120");
        Start({"--gop", "5"}, channels);
        ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 0, 30, 1}));
        ASSERT_EQ(sim.command("ring"), "OK");
        ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(12) == int(count); }, 15000));
        program->lines().ResetLine();
        ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
        expectEachWindowShowsOnlyItsOwnStream(host, count);
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
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555-0101", 0, 70, 0}));
    dialAndConnect(QString::fromStdString(store.callSettings().dial));
    EXPECT_TRUE(waitForLog({"\"action\":\"dial\"", "\"number\":\"5550101\""}));
    ASSERT_TRUE(waitForLog({"\"name\":\"Login\"", "\"user\":\"op\"", "\"password\":\"pw\"", "\"imageSize\":0",
                            "\"quality\":70", "\"accepted\":true"}));

    // Channel list, prompt, the first channel opened, its frames in a window.
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(2) == 1; }, 8000));
    ASSERT_EQ(program->channels().rows().size(), 2u);
    EXPECT_EQ(host.commands, std::vector<CommandId>{CommandId::OpenChannel});
    EXPECT_TRUE(waitForLog({"\"name\":\"OpenChannel\"", "\"value\":1"}));
    EXPECT_EQ(host.windows[0]->info.channel, 1);
    EXPECT_EQ(host.windows[0]->info.streamKey, 1001);
    EXPECT_EQ(logIndex({"\"name\":\"SiteInfoRequest\""}), -1);
    EXPECT_EQ(program->alarms, 0);
    EXPECT_TRUE(host.windows[0]->commands.empty());
    EXPECT_TRUE(host.status.last().startsWith("Connect:  "));

    // The call's counters against the site's own count: with the stream
    // stopped and the line drained, the bytes received match what the site
    // sent (its count also holds the modem's few result-code bytes).
    ASSERT_EQ(sim.command("close 1"), "OK");
    uint64_t received = 0;
    for (int i = 0; i < 20 && program->comm().counters().bytesIn != received; ++i) {
        received = program->comm().counters().bytesIn;
        runEventsFor(300);
    }
    const std::string status = sim.command("status");
    const size_t at = status.find("\"bytesToViewer\":");
    ASSERT_NE(at, std::string::npos) << status;
    const double sent = std::stod(status.substr(at + 16));
    EXPECT_GT(sent, 0);
    EXPECT_NEAR(double(program->comm().counters().bytesIn), sent, sent * 0.01);
    EXPECT_EQ(program->comm().counters().damagedPackets, 0u);

    // Hang up (the main window's command): escape, ATH0, the line listens on.
    const size_t before = logSize();
    program->lines().ResetLine();
    EXPECT_FALSE(program->comm().IsOpen());
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    EXPECT_FALSE(program->lines().hasCall());
    EXPECT_TRUE(program->lines().isLineOpen());
    const long escape = logIndex({"\"event\":\"escape\""}, before);
    ASSERT_GE(escape, 0);
    EXPECT_GT(logIndex({"\"line\":\"ATH0\""}, size_t(escape)), escape);

    // Filed once, as the operator's hang-up of a connected call.
    const std::vector<CallLogEntry> calls = program->log.query();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].direction, CallDirection::Dialled);
    EXPECT_EQ(calls[0].number, "555-0101");
    EXPECT_EQ(calls[0].result, CallResult::Connected);
    EXPECT_EQ(calls[0].endedBy, CallEndedBy::Operator);
    EXPECT_EQ(calls[0].connectSpeed, 33600u);
    EXPECT_FALSE(calls[0].modem.isEmpty());
    EXPECT_GT(calls[0].durationMs, 0);
    EXPECT_GT(calls[0].bytesIn, calls[0].frames * 160 * 120); // raw RGB pictures
    EXPECT_GT(calls[0].bytesOut, 0u);
    EXPECT_GE(calls[0].frames, 2u);
    EXPECT_EQ(calls[0].channels, 1u);
    EXPECT_FALSE(calls[0].eventFiled);

    const size_t rings = logSize();
    ASSERT_EQ(sim.command("ring"), "OK");
    EXPECT_TRUE(waitForLog({"\"line\":\"ATA\""}, rings));
}

TEST_F(CallEndToEndTest, ANonAsciiLoginReachesTheSiteAsLatin1AndChannelNamesShowAsLatin1) {
    // The site compares single bytes: twenty umlauts fill the name field exactly.
    const QString name = QStringLiteral("\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF").repeated(3).left(20);
    const std::string wireName = name.toLatin1().toStdString();
    std::string logged;
    for (char c : wireName) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(uint8_t(c)));
        logged += escaped;
    }
    Start({"--user", wireName, "--password", "p\xE4sse", "--channel",
           "3:S\xFC"
           "dtor,codec=rgb,fps=10,size=160x120"});
    ConnectForm::Fields typed;
    typed.user = name;
    typed.password = QStringLiteral("p\u00E4sse");
    typed.dial = QStringLiteral("555");
    ASSERT_TRUE(store.saveCallSettings(ConnectForm::toStored(typed)));
    dialAndConnect(typed.dial);
    ASSERT_TRUE(waitForLog({"\"name\":\"Login\"", "\"user\":\"" + logged + "\"",
                            "\"password\":\"p\\u00e4sse\"", "\"accepted\":true"}));
    ASSERT_TRUE(waitUntil([&] { return program->channels().rows().size() == 3; }, 8000));
    EXPECT_TRUE(program->comm().channelChoiceLines().contains(QStringLiteral("0003 S\u00FCdtor")));
}

TEST_F(CallEndToEndTest, BusyNoAnswerAndNoDialToneResetTheLineAndLeaveItListening) {
    Start({"--number", "1=BUSY", "--number", "2=NO ANSWER", "--number", "3=NO DIALTONE"});
    for (const char* number : {"1", "2", "3"}) {
        SCOPED_TRACE(number);
        const size_t before = logSize();
        ASSERT_TRUE(program->lines().Dial(QString::fromLatin1(number)));
        // The line is closed and opened again: the modem is set up anew.
        ASSERT_TRUE(waitForLog({"\"line\":\"ATZ\""}, before));
        ASSERT_TRUE(
            waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 5000));
        EXPECT_EQ(program->dialStatus().openWindow(), nullptr);
        EXPECT_FALSE(program->comm().IsOpen());
    }
    EXPECT_GE(logIndex({"\"text\":\"BUSY\""}), 0);
    EXPECT_GE(logIndex({"\"text\":\"NO ANSWER\""}), 0);
    EXPECT_GE(logIndex({"\"text\":\"NO DIALTONE\""}), 0);
    EXPECT_TRUE(host.status.isEmpty()); // the connection never started
    const std::vector<CallLogEntry> calls = program->log.query();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].result, CallResult::Busy);
    EXPECT_EQ(calls[1].result, CallResult::NoAnswer);
    EXPECT_EQ(calls[0].result, CallResult::NoDialTone);
    for (const CallLogEntry& call : calls) {
        EXPECT_EQ(call.endedBy, CallEndedBy::None);
        EXPECT_EQ(call.durationMs, 0);
        EXPECT_EQ(call.bytesIn, 0u);
    }

    const size_t rings = logSize();
    ASSERT_EQ(sim.command("ring"), "OK");
    EXPECT_TRUE(waitForLog({"\"line\":\"ATA\""}, rings));
}

TEST_F(CallEndToEndTest, AnsweredCallLogsInWithFixedCredentialsFilesTheSiteAndRecordsEveryChannel) {
    Start();
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 1}));
    QElapsedTimer sinceRing;
    sinceRing.start();
    ASSERT_EQ(sim.command("ring"), "OK");
    ASSERT_TRUE(waitUntil([&] { return program->lines().isAnswering(); }, 5000));
    ASSERT_TRUE(waitForLog({"\"line\":\"ATA\""}));
    // The pause before answering (its timer may fire a little early).
    EXPECT_GE(sinceRing.elapsed(), 270);
    EXPECT_EQ(logIndex({"\"line\":\"ATA\""}, logIndex({"\"line\":\"ATA\""}) + 1), -1); // answered once
    ASSERT_TRUE(waitUntil([&] { return program->comm().IsOpen(); }, 8000));
    EXPECT_TRUE(program->comm().isAnswered());
    EXPECT_TRUE(watchdog.watchdogRunning);

    ASSERT_TRUE(waitForLog(
        {"\"name\":\"Login\"", "\"user\":\"Rav-Lookout\"", "\"password\":\"Q-Lynx\"", "\"accepted\":true"}));
    ASSERT_TRUE(waitForLog({"\"name\":\"SiteInfoRequest\""}));
    EXPECT_LT(logIndex({"\"name\":\"Login\""}), logIndex({"\"name\":\"SiteInfoRequest\""}));

    // Every channel the site sends gets a window that records and snapshots at once.
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(2) == 2; }, 8000));
    EXPECT_EQ(program->alarms, 2);
    // The commands are posted: they arrive from the event loop after the frame.
    EXPECT_TRUE(waitUntil(
        [&] {
            return std::all_of(host.windows.begin(), host.windows.end(),
                               [](const auto& w) { return w->commands.size() >= 2; });
        },
        2000));
    for (const auto& w : host.windows)
        EXPECT_EQ(w->commands,
                  (std::vector<CommandId>{CommandId::ChannelRecord, CommandId::ChannelSnapshot}));

    std::vector<EventRecord> events;
    ASSERT_TRUE(waitUntil(
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
    EXPECT_TRUE(program->log.query().empty()); // nothing filed while the call runs

    program->lines().ResetLine();
    const std::vector<CallLogEntry> calls = program->log.query();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].direction, CallDirection::Answered);
    EXPECT_EQ(calls[0].site, "North Gate");
    EXPECT_TRUE(calls[0].number.isEmpty());
    EXPECT_TRUE(calls[0].eventFiled);
    EXPECT_EQ(calls[0].channels, 2u);
    EXPECT_EQ(calls[0].result, CallResult::Connected);
}

TEST_F(CallEndToEndTest, FarEndHangUpStopsThePortResetsTheLineAndFindsTheModemAgain) {
    Start();
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));

    const size_t before = logSize();
    ASSERT_EQ(sim.command("hangup"), "OK");
    ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    // The modem is set up again on the fresh terminal behind the same path.
    ASSERT_TRUE(waitForLog({"\"line\":\"ATZ\""}, before));
    ASSERT_TRUE(
        waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 5000));

    ASSERT_TRUE(program->journal.last());
    EXPECT_EQ(program->journal.last()->endedBy, CallEndedBy::FarEnd);
    EXPECT_EQ(program->journal.last()->number, "555");

    host.windows.clear();
    dialAndConnect("556");
    EXPECT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));
    program->lines().ResetLine();
}

TEST_F(CallEndToEndTest, HangUpFromTheDialingWindowWhileDialingKeepsTheLineListening) {
    Start({"--number", "42=CONNECT@3000"});
    ASSERT_TRUE(program->lines().Dial("42"));
    DialStatusDialog* window = program->dialStatus().openWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitForLog({"\"action\":\"dial\"", "\"number\":\"42\""}));
    window->findChild<QPushButton*>("button1069")->click();
    ASSERT_TRUE(waitUntil([&] { return program->dialStatus().openWindow() == nullptr; }, 5000));
    EXPECT_FALSE(program->lines().hasCall());
    EXPECT_TRUE(program->lines().isLineOpen());
    EXPECT_FALSE(program->comm().IsOpen());
    EXPECT_GE(logIndex({"\"action\":\"aborted\""}), 0);
}

// Same-size delta-coded channels, interleaved on one call: every window
// shows its own stream's pictures, exactly as a decoder that saw only that
// stream decodes them, and the channels' pictures differ.
void expectEachWindowShowsOnlyItsOwnStream(const FakeHost& host, size_t channels) {
    ASSERT_EQ(host.windows.size(), channels);
    std::vector<std::vector<uint8_t>> lastPictures;
    for (const auto& window : host.windows) {
        SCOPED_TRACE(testing::Message() << "channel " << window->info.channel);
        ASSERT_FALSE(window->frames.empty());
        std::unique_ptr<VideoDecompressor> own =
            VideoDecompressor::locate(*BitmapInfoHeader::parse(window->frames.front()));
        ASSERT_NE(own, nullptr);
        std::vector<std::vector<uint8_t>> reference;
        for (const auto& frame : window->frames) {
            if (auto picture = own->decompress(frame))
                reference.push_back(std::move(*picture));
        }
        ASSERT_GE(reference.size(), 6u);
        EXPECT_EQ(window->drawn.size(), reference.size());
        size_t same = 0;
        for (size_t i = 0; i < std::min(reference.size(), window->drawn.size()); ++i)
            same += window->drawn[i] == reference[i];
        EXPECT_EQ(same, reference.size()) << "pictures that differ from the stream's own decode";
        lastPictures.push_back(window->drawn.back());
    }
    for (size_t a = 0; a < lastPictures.size(); ++a)
        for (size_t b = a + 1; b < lastPictures.size(); ++b)
            EXPECT_NE(lastPictures[a], lastPictures[b]) << "channels " << a + 1 << " and " << b + 1;
}

TEST_F(CallEndToEndTest, TwoSameSizeCinepakChannelsEachShowTheirOwnPictures) {
    runDeltaCodedCall("cvid", 2);
}

TEST_F(CallEndToEndTest, FourSameSizeVideo1ChannelsEachShowTheirOwnPictures) {
    runDeltaCodedCall("msvc", 4);
}
// The same calls with the modem behind a serial device server.
class NetworkCallTest : public CallEndToEndTest, public ::testing::WithParamInterface<const char*> {
protected:
    bool telnet() const { return std::string(GetParam()) == "--rfc2217"; }
};

TEST_P(NetworkCallTest, DialledAndAnsweredCallsCarryVideoAndHangUp) {
    Start({GetParam(), "0"});
    EXPECT_EQ(sim.modemUrl().rfind(telnet() ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:", 0), 0u);
    EXPECT_TRUE(waitForLog({"\"action\":\"connected\""}));
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    dialAndConnect("555");
    // Frames (JPEG data is full of 0xFF bytes) decode in their window.
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(2) == 1; }, 8000));
    if (telnet()) {
        EXPECT_GE(logIndex({"\"event\":\"comport\"", "\"code\":1"}), 0); // the line was set up
    }

    // Hang up: over RFC 2217 by dropping DTR, over raw TCP with the escape.
    const size_t before = logSize();
    program->lines().ResetLine();
    EXPECT_FALSE(program->comm().IsOpen());
    ASSERT_TRUE(waitForLog({telnet() ? "\"event\":\"dtr\"" : "\"event\":\"escape\""}, before));
    EXPECT_TRUE(waitForLog({"\"event\":\"modem\"", "\"state\":\"idle\""}, before));
    EXPECT_TRUE(program->lines().isLineOpen());

    // A call from the site is answered over the same connection.
    host.windows.clear();
    const size_t rings = logSize();
    ASSERT_EQ(sim.command("ring"), "OK");
    ASSERT_TRUE(waitForLog({"\"line\":\"ATA\""}, rings));
    ASSERT_TRUE(waitUntil([&] { return program->comm().IsOpen(); }, 8000));
    EXPECT_TRUE(program->comm().isAnswered());
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(2) >= 1; }, 8000));
    program->lines().ResetLine();
}

TEST_P(NetworkCallTest, FarEndHangUpEndsTheCallAndTheModemIsFoundAgain) {
    Start({GetParam(), "0"});
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));

    // Raw TCP: the server closes the socket mid-call. RFC 2217: carrier drops.
    ASSERT_EQ(sim.command("hangup"), "OK");
    ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    ASSERT_TRUE(
        waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 8000));

    host.windows.clear();
    dialAndConnect("556");
    EXPECT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));
    program->lines().ResetLine();
}

// Raw TCP has no carrier line: the modem's NO CARRIER, with the connection
// left open, ends the call as carrier loss does on a serial port; the same
// text at the end of a picture (followed by the packet's trailer) does not.
TEST_F(CallEndToEndTest, RawTcpNoCarrierEndsTheCallButThatTextInAPictureDoesNot) {
    Start({"--tcp", "0"});
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));

    const size_t drawn = host.windows[0]->drawn.size();
    ASSERT_EQ(sim.command("event text-frame 1"), "OK");
    // Three quiet times and more frames later the call is still up.
    ASSERT_TRUE(waitUntil([&] { return host.windows[0]->drawn.size() >= drawn + 12; }, 8000));
    EXPECT_TRUE(program->comm().IsOpen());
    EXPECT_TRUE(program->lines().isConnected());

    const size_t before = logSize();
    ASSERT_EQ(sim.command("carrier-lost"), "OK");
    ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    EXPECT_EQ(host.status.last(), "Disconnect");
    EXPECT_TRUE(host.windows[0]->closed);
    ASSERT_TRUE(
        waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 8000));
    // The program ended the call and reset the line itself: the server closed
    // nothing. The line counts as open before the simulator logs the new
    // connection, so wait for that line.
    EXPECT_TRUE(waitForLog({"\"tcp\"", "\"action\":\"connected\""}, before));
    const long closed = logIndex({"\"tcp\"", "\"action\":\"closed\""}, before);
    const long reconnected = logIndex({"\"tcp\"", "\"action\":\"connected\""}, before);
    EXPECT_GE(reconnected, 0);
    EXPECT_TRUE(closed < 0 || closed > logIndex({"\"text\":\"NO CARRIER\""}, before));

    host.windows.clear();
    dialAndConnect("556");
    EXPECT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));
    program->lines().ResetLine();
}

INSTANTIATE_TEST_SUITE_P(Transports, NetworkCallTest, ::testing::Values("--tcp", "--rfc2217"),
                         [](const auto& test) { return std::string(test.param + 2); });
// A far-end hang-up with the reconnect option on: the same number is dialled
// again after the first wait (a busy attempt counts and waits for the next),
// the login uses the credentials of the dropped call, the channels open again
// in their order without the site's prompt reaching the operator, and the
// channel that was recording records again.
TEST_F(CallEndToEndTest, DroppedCallIsRedialledAndReopensItsChannelsInOrder) {
    Start();
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    RedialScheduler::TimePoint now{};
    Reconnector reconnect(
        program->lines(), program->comm(), connection, host, [&] { return now; },
        std::chrono::hours(1)); // ticks by hand only
    reconnect.configure(true, 3);
    program->lines().setCallEndObserver([&](const CallEnd& end) { reconnect.onCallEnd(end); });

    reconnect.noteOperatorDial("555");
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 1; }, 8000));
    // Channel 2 after channel 1, and channel 2 records.
    ASSERT_TRUE(program->comm().requestOpenChannel(2));
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) == 2; }, 8000));
    ASSERT_EQ(host.windows[1]->info.channel, 2);
    host.windows[1]->recording = true;

    ASSERT_EQ(sim.command("dial-result BUSY"), "OK");
    ASSERT_EQ(sim.command("hangup"), "OK");
    ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    ASSERT_TRUE(
        waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 5000));
    ASSERT_TRUE(reconnect.pending());
    reconnect.tick();
    EXPECT_EQ(host.status.last(), "Reconnecting in 10 s (attempt 1 of 3)");
    EXPECT_FALSE(program->lines().hasCall());

    // Attempt 1 finds the site busy: it counts, attempt 2 waits 30 s.
    now += std::chrono::seconds(10);
    size_t before = logSize();
    reconnect.tick();
    ASSERT_TRUE(waitForLog({"\"text\":\"BUSY\""}, before));
    ASSERT_TRUE(waitUntil([&] { return reconnect.scheduler().attempt() == 2; }, 5000));
    ASSERT_TRUE(
        waitUntil([&] { return !program->lines().hasCall() && program->lines().isLineOpen(); }, 5000));
    now += std::chrono::seconds(5);
    reconnect.tick();
    EXPECT_EQ(host.status.last(), "Reconnecting in 25 s (attempt 2 of 3)");

    // The operator's values change meanwhile; the redial keeps the dropped call's.
    ASSERT_TRUE(store.saveCallSettings({"other", "secret", "777", 1, 30, 0}));
    ASSERT_EQ(sim.command("dial-result CONNECT"), "OK");
    host.windows.clear();
    host.commands.clear();
    now += std::chrono::seconds(25);
    before = logSize();
    reconnect.tick();
    ASSERT_TRUE(waitUntil([&] { return program->comm().IsOpen(); }, 8000));
    EXPECT_TRUE(waitForLog({"\"action\":\"dial\"", "\"number\":\"555\""}, before));
    ASSERT_TRUE(waitForLog({"\"name\":\"Login\"", "\"user\":\"op\"", "\"accepted\":true"}, before));
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(2) == 2; }, 8000));
    const long first = logIndex({"\"name\":\"OpenChannel\"", "\"value\":1"}, before);
    const long second = logIndex({"\"name\":\"OpenChannel\"", "\"value\":2"}, before);
    ASSERT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_TRUE(host.commands.empty()); // no channel prompt for the operator
    ASSERT_TRUE(waitUntil(
        [&] { return !host.windows[0]->commands.empty() || !host.windows[1]->commands.empty(); }, 2000));
    for (const auto& w : host.windows) {
        SCOPED_TRACE(w->info.channel);
        EXPECT_EQ(w->commands, w->info.channel == 2 ? std::vector<CommandId>{CommandId::ChannelRecord}
                                                    : std::vector<CommandId>{});
    }
    reconnect.tick();
    EXPECT_FALSE(reconnect.pending()); // logged in: the series is over

    // The operator's hang-up is not a drop: nothing is redialled.
    program->lines().ResetLine();
    reconnect.tick();
    EXPECT_FALSE(reconnect.pending());
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
    options.lineQuiet = std::chrono::milliseconds(300);
    // The stored text is only resolved on the worker that writes the files.
    std::vector<std::thread::id> resolvedOn;
    options.recordFolder = [] {
        return std::string("stored/");
    };
    options.resolveFolder = [&](const std::string& stored) {
        resolvedOn.push_back(std::this_thread::get_id());
        return stored == "stored/" ? dir.path() + "/" : stored;
    };
    options.now = [] {
        return QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    };
    PatrolRunner patrol(program->lines(), program->comm(), program->channels(), options);
    program->lines().setCallEndObserver([&](const CallEnd& end) { patrol.onCallEnd(end); });
    program->comm().setFrameObserver(
        [&](int32_t channel, std::span<const uint8_t> picture) { patrol.onFrame(channel, picture); });
    const LoginValues login{"op", "pw", 1, 30};
    std::optional<PatrolReport> finished;
    patrol.setFinished([&](const PatrolReport& report) { finished = report; });

    ASSERT_TRUE(patrol.Start({{"North/Gate", "1", login}, {"Yard", "2", login}, {"Dock", "3", login}}));
    EXPECT_FALSE(patrol.Start({{"again", "4", login}})); // one round at a time
    ASSERT_TRUE(waitUntil([&] { return finished.has_value(); }, 60000));
    QThreadPool::globalInstance()->waitForDone();

    // Dialled in order, the busy site once more at the end, each with its own login.
    EXPECT_EQ(Dialled(), (std::vector<std::string>{"1", "2", "3", "2"}));

    const PatrolReport& report = *finished;
    EXPECT_EQ(report.folder, "patrol/20260304-050607");
    ASSERT_EQ(report.sites.size(), 3u);
    EXPECT_FALSE(report.allReached());
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
    ASSERT_EQ(resolvedOn.size(), 1u);
    EXPECT_NE(resolvedOn[0], std::this_thread::get_id());
    EXPECT_EQ(patrol.roundFolder(), dir.path() + "/patrol/20260304-050607/");
    // The report on disk says the same.
    QFile json(QString::fromStdString(patrol.roundFolder()) + "report.json");
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const PatrolReport stored = PatrolReport::fromJson(json.readAll());
    ASSERT_EQ(stored.sites.size(), 3u);
    EXPECT_EQ(stored.sites[1].result, "busy");
    EXPECT_EQ(stored.sites[2].channels.size(), 2u);
    EXPECT_EQ(stored.sites[0].channels[0].file, report.sites[0].channels[0].file);

    // The line listens again afterwards.
    EXPECT_TRUE(
        waitUntil([&] { return program->lines().isLineOpen() && !program->lines().hasCall(); }, 5000));
}

// A record volume that does not answer for the whole round: the round runs
// to its end all the same (the files wait on the worker, which is held in
// the folder's job), at most maxPendingFiles further jobs wait, a picture
// beyond that is reported as none, and once the volume answers the kept
// picture and the report are written.
TEST_F(CallEndToEndTest, PatrolRoundRunsWhileTheRecordVolumeHangsAndKeepsItsWaitingFilesBounded) {
    Start({});
    struct Volume {
        std::mutex lock;
        std::condition_variable wake;
        bool answers = false;
    };
    auto volume = std::make_shared<Volume>();
    PatrolRunner::Options options;
    options.tick = std::chrono::milliseconds(20);
    options.connectTimeout = std::chrono::milliseconds(8000);
    options.frameTimeout = std::chrono::milliseconds(5000);
    options.lineQuiet = std::chrono::milliseconds(300);
    options.maxPendingFiles = 1; // one picture waits behind the folder's job
    options.recordFolder = [] {
        return std::string("stored/");
    };
    options.resolveFolder = [volume, folder = dir.path() + "/"](const std::string&) {
        std::unique_lock guard(volume->lock);
        volume->wake.wait(guard, [&] { return volume->answers; });
        return folder;
    };
    PatrolRunner patrol(program->lines(), program->comm(), program->channels(), options);
    program->lines().setCallEndObserver([&](const CallEnd& end) { patrol.onCallEnd(end); });
    program->comm().setFrameObserver(
        [&](int32_t channel, std::span<const uint8_t> picture) { patrol.onFrame(channel, picture); });
    std::optional<PatrolReport> finished;
    patrol.setFinished([&](const PatrolReport& report) { finished = report; });
    ASSERT_TRUE(patrol.Start({{"Gate", "1", {"op", "pw", 1, 30}}}));
    const bool done = waitUntil([&] { return finished.has_value(); }, 30000);
    {
        std::lock_guard guard(volume->lock);
        volume->answers = true;
        volume->wake.notify_all();
    }
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_TRUE(done);

    ASSERT_EQ(finished->sites.size(), 1u);
    EXPECT_TRUE(finished->sites[0].reached);
    std::vector<QString> files;
    for (const PatrolChannelResult& channel : finished->sites[0].channels) {
        if (!channel.file.isEmpty())
            files.push_back(channel.file);
        else
            EXPECT_EQ(channel.result, "no picture");
    }
    ASSERT_EQ(finished->sites[0].channels.size(), 2u);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.path() + "/") + files[0]));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(patrol.roundFolder()) + "report.json"));
}

// Sites calling in while a round runs are answered first: one calls during a
// visit (the line is busy; it gets through once the visit is over), one meets
// the dial of the next site on the line (that dial is given up and the site
// called again after the incoming call). Both calls are answered and filed
// with their events; the round then completes with every site reached.
TEST_F(CallEndToEndTest, IncomingCallsDuringAPatrolRoundAreAnsweredAndTheRoundResumes) {
    Start({"--number", "2=CONNECT@1500"});
    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    PatrolRunner::Options options;
    options.tick = std::chrono::milliseconds(20);
    options.connectTimeout = std::chrono::milliseconds(8000);
    options.frameTimeout = std::chrono::milliseconds(5000);
    options.lineQuiet = std::chrono::milliseconds(1000); // the caller tries again every 200 ms
    options.recordFolder = [&] {
        return dir.path() + "/";
    };
    PatrolRunner patrol(program->lines(), program->comm(), program->channels(), options);
    program->lines().setCallEndObserver([&](const CallEnd& end) { patrol.onCallEnd(end); });
    program->comm().setFrameObserver(
        [&](int32_t channel, std::span<const uint8_t> picture) { patrol.onFrame(channel, picture); });
    std::optional<PatrolReport> finished;
    patrol.setFinished([&](const PatrolReport& report) { finished = report; });
    const LoginValues login{"op", "pw", 1, 30};
    ASSERT_TRUE(patrol.Start({{"North Gate", "1", login}, {"Yard", "2", login}, {"Dock", "3", login}}));

    // Ends the incoming call once the site has sent its record and a picture.
    const auto answerAndHangUp = [&](size_t from) {
        ASSERT_TRUE(
            waitUntil([&] { return program->comm().IsOpen() && program->comm().isAnswered(); }, 10000));
        ASSERT_TRUE(waitForLog({"\"action\":\"connected\"", "\"placedBySite\":true"}, from));
        ASSERT_TRUE(waitUntil([&] { return program->comm().counters().eventFiled; }, 8000));
        ASSERT_EQ(sim.command("hangup"), "OK");
        ASSERT_TRUE(waitUntil([&] { return !program->comm().IsOpen(); }, 8000));
    };

    // During the first visit: the line is busy, the caller waits.
    ASSERT_TRUE(waitForLog({"\"name\":\"OpenChannel\""}));
    size_t mark = logSize();
    ASSERT_EQ(sim.command("ring persist"), "OK");
    answerAndHangUp(mark);
    EXPECT_EQ(Dialled(), std::vector<std::string>{"1"}); // nothing was dialled before the caller got through

    // While the second site is dialled: the calls meet on the line.
    ASSERT_TRUE(waitForLog({"\"action\":\"dial\"", "\"number\":\"2\""}, mark));
    mark = logSize();
    ASSERT_EQ(sim.command("ring persist"), "OK");
    ASSERT_TRUE(waitForLog({"\"action\":\"collision\""}, mark));
    answerAndHangUp(mark);

    ASSERT_TRUE(waitUntil([&] { return finished.has_value(); }, 30000));
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_EQ(Dialled(), (std::vector<std::string>{"1", "2", "2", "3"}));
    EXPECT_TRUE(finished->allReached());
    for (const PatrolSiteResult& site : finished->sites) {
        EXPECT_EQ(site.result.toStdString(), "reached") << site.name.toStdString();
        EXPECT_EQ(site.channels.size(), 2u) << site.name.toStdString();
    }
    int answeredWithEvent = 0;
    for (const CallLogEntry& call : program->log.query())
        answeredWithEvent += call.direction == CallDirection::Answered && call.eventFiled;
    EXPECT_EQ(answeredWithEvent, 2);
}

TEST_F(CallEndToEndTest, RejectedLoginAndTheSitesHangUpRequestAreFiledAsSuch) {
    Start();
    ASSERT_TRUE(store.saveCallSettings({"op", "wrong", "555", 1, 30, 0}));
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return !program->lines().hasCall(); }, 8000));
    ASSERT_TRUE(program->journal.last());
    EXPECT_EQ(program->journal.last()->result, CallResult::LoginRejected);

    ASSERT_TRUE(store.saveCallSettings({"op", "pw", "555", 1, 30, 0}));
    dialAndConnect("555");
    ASSERT_TRUE(waitUntil([&] { return windowsWithFrames(1) >= 1; }, 8000));
    ASSERT_EQ(sim.command("event hangup-request"), "OK");
    ASSERT_TRUE(waitUntil([&] { return !program->lines().hasCall(); }, 8000));
    const std::vector<CallLogEntry> calls = program->log.query();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].result, CallResult::Connected);
    EXPECT_EQ(calls[0].endedBy, CallEndedBy::SiteRequest);
    EXPECT_EQ(calls[1].result, CallResult::LoginRejected);
}

} // namespace
