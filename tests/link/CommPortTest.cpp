#include "CommPort.h"
#include "ChannelTable.h"
#include "LinkDoubles.h"
#include "PtyPair.h"
#include "ScriptedDialogService.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> ChannelListPayload(std::initializer_list<std::pair<int32_t, const char*>> entries) {
    std::vector<uint8_t> payload;
    for (const auto& [number, name] : entries) {
        std::vector<uint8_t> record(ChannelEntry::kRecordSize, 0);
        WriteInt32(record.data(), number);
        std::memcpy(record.data() + 4, name, std::strlen(name));
        payload.insert(payload.end(), record.begin(), record.end());
    }
    return payload;
}

void ProcessEvents() {
    QCoreApplication::processEvents();
}

} // namespace

class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override { Make(1h); }

    void Make(std::chrono::milliseconds timerPeriod) {
        m_port.reset();
        CommPortOptions options;
        options.timerPeriod = timerPeriod;
        options.stopBound = 2000ms;
        options.clock = [this] {
            return now;
        };
        m_port = std::make_unique<CommPort>(dialogs, store, channels, codecs, options);
        m_port->AttachMainWindow(&main, &view, &status);
    }

    void StartCall(bool answered = false) {
        ASSERT_TRUE(pty.valid());
        ASSERT_TRUE(port().Start(pty.releaseTerminal(), answered));
    }

    // Hands bytes to the receive queue as the reader would, then drains.
    void Feed(const std::vector<uint8_t>& bytes) {
        port().PushFrontReceived(bytes);
        port().DrainReceived();
    }
    void Frame(int32_t channel, int32_t key, int width = 320, int height = 240) {
        Feed(Inbound(InboundType::VideoFrame, channel, key, FramePayload(width, height)));
    }

    // Every packet the viewer sent so far; waits up to a second for `count`.
    std::vector<OutboundPacket> Sent(size_t count) {
        return SentWhere([count](const std::vector<OutboundPacket>& all) { return all.size() >= count; },
                         1000);
    }
    // The packets of one type sent so far; waits up to a second for `count`,
    // or 100 ms when `count` is 0 (to see that nothing more comes).
    std::vector<OutboundPacket> SentOfType(OutboundType type, size_t count = 0) {
        auto ofType = [type](std::vector<OutboundPacket> all) {
            std::erase_if(all, [type](const OutboundPacket& p) { return p.type != uint8_t(type); });
            return all;
        };
        return ofType(SentWhere(
            [&](const std::vector<OutboundPacket>& all) { return count && ofType(all).size() >= count; },
            count ? 1000 : 100));
    }
    template <typename Done> std::vector<OutboundPacket> SentWhere(Done done, int timeoutMs) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            std::vector<OutboundPacket> all = SplitOutbound(m_sent);
            if (done(all) || clock.elapsed() >= timeoutMs)
                return all;
            const auto more = pty.read(65536, 20);
            m_sent.insert(m_sent.end(), more.begin(), more.end());
        }
    }

    CommPort& port() { return *m_port; }

    QTime now{10, 2, 13};
    ScriptedDialogService dialogs;
    FakeStore store;
    ChannelTable channels;
    FakeDecompressorFactory codecs;
    FakeViewArea view;
    FakeMainWindow main;
    FakeStatusLine status;
    PtyPair pty;

private:
    std::unique_ptr<CommPort> m_port;
    std::vector<uint8_t> m_sent;
};

TEST_F(CommPortTest, AHandleThatIsNoCharacterDeviceIsRefusedWithTheNoticeAndClosed) {
    TempDir dir;
    const int file = ::open(dir.file("call").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(file, 0);
    EXPECT_FALSE(port().Start(file, false));
    EXPECT_EQ(dialogs.shownTexts(), QStringList({"\n File handle is not a comm handle. \n"}));
    EXPECT_EQ(::fcntl(file, F_GETFD), -1) << "the handle was closed";
    EXPECT_FALSE(port().IsOpen());
}

TEST_F(CommPortTest, ADialledCallLogsInWithTheStoredValues) {
    store.login = {"alice", "secret", 0, 250};
    StartCall();
    const auto sent = Sent(1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].type, uint8_t(OutboundType::Login));
    const auto expected = BuildLoginRecord({"alice", "secret", 0, 30});
    EXPECT_EQ(sent[0].payload, std::vector<uint8_t>(expected.begin(), expected.end()));

    Feed(Inbound(InboundType::LoginRequest));
    EXPECT_EQ(SentOfType(OutboundType::Login, 2).size(), 2u) << "a login request repeats the login";
}

TEST_F(CommPortTest, AnAnsweredCallLogsInWithFixedCredentialsAndAsksForTheSiteRecord) {
    StartCall(true);
    const auto sent = Sent(2);
    ASSERT_EQ(sent.size(), 2u);
    const auto expected = BuildLoginRecord({"Rav-Lookout", "Q-Lynx", 1, 30});
    EXPECT_EQ(sent[0].payload, std::vector<uint8_t>(expected.begin(), expected.end()));
    EXPECT_EQ(sent[1].type, uint8_t(OutboundType::SiteInfoRequest));
    EXPECT_EQ(sent[1].payload, std::vector<uint8_t>(4, 0));

    Feed(Inbound(InboundType::SiteInfo, 0, 0, std::vector<uint8_t>(12, 'N')));
    ASSERT_EQ(store.events.size(), 1u);
    EXPECT_EQ(store.events[0][11], 'N');
    EXPECT_EQ(store.events[0][12], 0) << "a short site record is zero-filled";
}

TEST_F(CommPortTest, ASecondStartIsRefusedAndLeavesTheRunningCallAlone) {
    StartCall();
    PtyPair other;
    const int second = other.releaseTerminal();
    EXPECT_FALSE(port().Start(second, false));
    EXPECT_EQ(::fcntl(second, F_GETFD), -1);
    EXPECT_TRUE(port().IsOpen());
    EXPECT_EQ(Sent(1).size(), 1u);
}

TEST_F(CommPortTest, ChannelListsSetPermissionsAndReplaceTheChannelTable) {
    StartCall();
    EXPECT_FALSE(port().CanOpenChannel());
    Feed(
        Inbound(InboundType::ChannelList, 3, 3, ChannelListPayload({{0, "Zero"}, {-1, "Neg"}, {4, "Gate"}})));
    EXPECT_TRUE(port().MayOpenChannels());
    EXPECT_TRUE(port().MayCloseChannels());
    ASSERT_EQ(channels.rows().size(), 1u);
    EXPECT_EQ(channels.GetChannelName(4), "Gate");
    EXPECT_TRUE(port().CanOpenChannel());
    EXPECT_EQ(port().ChannelChoiceLines(), QStringList({"0004 Gate"}));
    Frame(4, 1);
    EXPECT_TRUE(view.windows.at(0)->info.mayClose);

    // A count beyond the payload reads only the entries present.
    Feed(Inbound(InboundType::ChannelList, 50, 1, ChannelListPayload({{8, "Yard"}})));
    EXPECT_EQ(channels.rows().size(), 1u);
    EXPECT_FALSE(port().MayCloseChannels());
    Frame(8, 2);
    EXPECT_FALSE(view.windows.at(1)->info.mayClose);

    Feed(Inbound(InboundType::ChannelList, 0, 1));
    EXPECT_TRUE(channels.empty());
    EXPECT_FALSE(port().CanOpenChannel());
}

TEST_F(CommPortTest, SiteRequestsArePostedToTheMainWindowAfterTheDrain) {
    StartCall();
    Feed(Concat({Inbound(InboundType::ChannelPrompt), Inbound(InboundType::LoginRejected),
                 Inbound(InboundType::HangUpRequest)}));
    EXPECT_TRUE(main.commands.empty()) << "never delivered from inside parsing";
    ProcessEvents();
    EXPECT_EQ(main.commands, (std::vector<int>{32779, 32791, 32772}));
}

TEST_F(CommPortTest, UnknownTypesShowStreamErrorUntilTheNextTickAndReceptionGoesOn) {
    StartCall();
    Feed(Concat({Inbound(7, 0, 0), Inbound(InboundType::ChannelPrompt)}));
    EXPECT_EQ(status.last(), "Stream error!");
    ProcessEvents();
    EXPECT_EQ(main.commands, std::vector<int>{32779});
    port().OnConnectionTimer();
    EXPECT_TRUE(status.last().startsWith("Connect:  "));
}

TEST_F(CommPortTest, TheStatusLineShowsStartTimeCurrentTimeAndFrameCount) {
    StartCall();
    now = QTime(10, 5, 40);
    Frame(1, 1);
    Frame(1, 1);
    port().OnConnectionTimer();
    EXPECT_EQ(status.last(), "Connect:  10:02:13 -- 10:05:40    Frame: 2");
}

TEST_F(CommPortTest, KeepAlivesGoOutEveryTwentySecondTick) {
    StartCall();
    for (int tick = 1; tick <= 21; ++tick)
        port().OnConnectionTimer();
    EXPECT_TRUE(SentOfType(OutboundType::KeepAlive).empty());
    port().OnConnectionTimer();
    EXPECT_EQ(SentOfType(OutboundType::KeepAlive, 1).size(), 1u);
    for (int tick = 23; tick <= 43; ++tick)
        port().OnConnectionTimer();
    EXPECT_EQ(SentOfType(OutboundType::KeepAlive).size(), 1u);
    port().OnConnectionTimer();
    const auto keepAlives = SentOfType(OutboundType::KeepAlive, 2);
    ASSERT_EQ(keepAlives.size(), 2u);
    EXPECT_EQ(keepAlives[1].payload, std::vector<uint8_t>(4, 0));
}

TEST_F(CommPortTest, TheConnectionTimerDrivesTicksOnTheEventLoopUntilStop) {
    Make(5ms);
    StartCall();
    ASSERT_TRUE(pty.write(Inbound(InboundType::ChannelPrompt)));
    QElapsedTimer clock;
    clock.start();
    while ((main.commands.empty() || status.texts.size() < 3) && clock.elapsed() < 3000)
        ProcessEvents();
    EXPECT_EQ(main.commands, std::vector<int>{32779}) << "bytes from the line reach the parser by the timer";
    EXPECT_GE(status.texts.size(), 3);
    port().Stop();
    const auto texts = status.texts.size();
    EXPECT_EQ(status.last(), "Disconnect");
    clock.restart();
    while (clock.elapsed() < 30)
        ProcessEvents();
    EXPECT_EQ(status.texts.size(), texts) << "no tick after Stop";
}

TEST_F(CommPortTest, NewStreamsCascadeAndStartOverAtTheLeftEdge) {
    view.size = QSize(360, 600);
    StartCall();
    Frame(1, 11);
    Frame(2, 12);
    Frame(3, 13);
    ASSERT_EQ(view.windows.size(), 3u);
    EXPECT_EQ(view.windows[0]->geometry, QRect(0, 0, 320, 240));
    EXPECT_EQ(view.windows[1]->geometry, QRect(28, 22, 320, 240));
    EXPECT_EQ(view.windows[2]->geometry.topLeft(), QPoint(0, 44)) << "56 > 360 - 320";
    EXPECT_TRUE(view.windows[0]->onTop);
    EXPECT_EQ(view.windows[1]->info.channel, 2);
    EXPECT_EQ(view.windows[1]->info.streamKey, 12);
    EXPECT_EQ(view.windows[1]->streamFormat.biWidth, 320);
    EXPECT_EQ(port().WindowCount(), 3);
    EXPECT_EQ(port().CascadePosition(), QPoint(28, 66));
    EXPECT_EQ(main.maximizeCalls, 0) << "no tiling while VideoArrange is off";

    // Frames reach the window of their stream key only, decoded.
    Frame(2, 12);
    EXPECT_EQ(view.windows[1]->drawn.size(), 2u);
    EXPECT_EQ(view.windows[1]->deliveredFrames, 2);
    EXPECT_EQ(view.windows[1]->drawn[0][0], 'D');
    EXPECT_EQ(view.windows[0]->drawn.size(), 1u);
    EXPECT_EQ(port().FrameCount(), 4);
}

TEST_F(CommPortTest, WithVideoArrangeNewWindowsAreTiledInTheViewArea) {
    store.videoArrange = true;
    StartCall();
    Frame(1, 1);
    Frame(2, 2);
    main.bars = false;
    Frame(3, 3);
    EXPECT_TRUE(main.maximized);
    ASSERT_EQ(view.windows.size(), 3u);
    EXPECT_EQ(view.windows[0]->geometry, QRect(100, 0, 400, 300));
    EXPECT_EQ(view.windows[1]->geometry, QRect(500, 0, 400, 300));
    EXPECT_EQ(view.windows[2]->geometry, QRect(100, 300, 400, 300));
    EXPECT_EQ(view.windows[2]->barsApplied, std::vector<bool>{false});

    // Closing one re-tiles the other two side by side.
    port().CloseWindow(view.windows[1]->info.windowId, true);
    EXPECT_EQ(view.windows[0]->geometry, QRect(0, 112, 500, 375));
    EXPECT_EQ(view.windows[2]->geometry, QRect(500, 112, 500, 375));
}

TEST_F(CommPortTest, FramesForAClosedWindowAreDroppedUncountedAndMakeNoNewWindow) {
    StartCall();
    Frame(5, 50);
    Frame(6, 60);
    const uint64_t first = view.windows[0]->info.windowId;
    port().CloseWindow(first, true);
    EXPECT_TRUE(view.windows[0]->closed);
    EXPECT_EQ(port().WindowCount(), 1);
    const auto closes = SentOfType(OutboundType::CloseChannel, 1);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(ReadInt32(closes[0].payload.data()), 5);

    const int frames = port().FrameCount();
    Frame(5, 50);
    EXPECT_EQ(view.windows.size(), 2u);
    EXPECT_EQ(port().FrameCount(), frames);
    EXPECT_EQ(port().Slots().size(), 2u) << "the slot lives on until the call ends";
    EXPECT_FALSE(port().IsChannelOpen(5));

    // A window the site stopped closes without a packet.
    Feed(Inbound(InboundType::ChannelClosed, 0, 60));
    EXPECT_TRUE(view.windows[1]->closedBySite);
    port().CloseWindow(view.windows[1]->info.windowId, false);
    EXPECT_EQ(SentOfType(OutboundType::CloseChannel).size(), 1u);
    port().CloseWindow(first, true); // stale id: nothing
    EXPECT_EQ(SentOfType(OutboundType::CloseChannel).size(), 1u);
}

TEST_F(CommPortTest, OpeningAChannelThatAlreadyHasAWindowSendsNothing) {
    EXPECT_FALSE(port().RequestOpenChannel(5)) << "not while disconnected";
    StartCall();
    Frame(5, 50);
    EXPECT_FALSE(port().RequestOpenChannel(5));
    EXPECT_TRUE(port().RequestOpenChannel(6));
    const auto opens = SentOfType(OutboundType::OpenChannel, 1);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(ReadInt32(opens[0].payload.data()), 6);
}

TEST_F(CommPortTest, MalformedFramesAreDroppedWithoutReadingPastThePayload) {
    StartCall();
    std::vector<std::vector<uint8_t>> payloads;
    payloads.push_back(std::vector<uint8_t>(39, 0));
    auto wrongSize = FramePayload(320, 240);
    WriteInt32(wrongSize.data(), 41);
    payloads.push_back(wrongSize);
    auto hugeTable = FramePayload(320, 240);
    WriteInt32(hugeTable.data() + 32, 0x40000001); // 4 x this wraps to 4 in 32 bits
    payloads.push_back(hugeTable);
    auto longImage = FramePayload(320, 240, 16);
    WriteInt32(longImage.data() + 20, 17);
    payloads.push_back(longImage);
    for (const auto& payload : payloads)
        Feed(Inbound(InboundType::VideoFrame, 1, 1, payload));
    EXPECT_TRUE(view.windows.empty());
    EXPECT_EQ(port().FrameCount(), 0);
    EXPECT_TRUE(codecs.calls.isEmpty());
}

TEST_F(CommPortTest, TheDecompressorIsChosenOnceFromPreferredHandlersThenLocated) {
    codecs.handlers = {{"iv50", false}};
    codecs.locates = true;
    codecs.decodes = false;
    StartCall();
    Frame(1, 1);
    Frame(2, 2);
    EXPECT_EQ(codecs.calls, QStringList({"iv50", "iv32", "locate"}));
    ASSERT_EQ(view.windows.size(), 2u);
    const auto raw = FramePayload(320, 240);
    EXPECT_EQ(view.windows[1]->drawn.at(0), raw) << "an undecodable frame is drawn as received";
}

TEST_F(CommPortTest, WithoutADecompressorTheCallIsDroppedOnceAndTheNextCallWorks) {
    codecs.handlers.clear();
    StartCall();
    Frame(1, 1);
    Feed(Inbound(InboundType::ChannelPrompt));
    Frame(1, 1);
    ProcessEvents();
    EXPECT_EQ(main.commands, std::vector<int>{32798});
    EXPECT_TRUE(view.windows.empty());
    port().Stop();

    codecs.handlers = {{"iv50", true}};
    PtyPair next;
    ASSERT_TRUE(port().Start(next.releaseTerminal(), false));
    Frame(1, 1);
    EXPECT_EQ(view.windows.size(), 1u);
}

TEST_F(CommPortTest, AnsweredCallWindowsSoundTheAlarmRecordAndSnapshotFromTheFirstFrame) {
    StartCall(true);
    Frame(1, 1);
    Frame(2, 2);
    EXPECT_EQ(main.alarms, 2);
    ASSERT_EQ(view.windows.size(), 2u);
    EXPECT_TRUE(view.windows[0]->postedCommands.empty());
    ProcessEvents();
    EXPECT_EQ(view.windows[0]->postedCommands, (std::vector<int>{32774, 32789}));
    EXPECT_EQ(view.windows[0]->drawnWhenFirstCommandArrived, 1) << "after the first picture was shown";
    view.windows[0]->recording = true;
    Frame(1, 1);
    EXPECT_EQ(view.windows[0]->recordedFrames, 1);
    EXPECT_EQ(view.windows[1]->recordedFrames, 0);
}

TEST_F(CommPortTest, FixTogglesTheFixedWindowAndSendsFixChannelEachTime) {
    StartCall();
    Frame(3, 30);
    const uint64_t a = view.windows[0]->info.windowId;
    port().FixWindow(a);
    EXPECT_EQ(port().FixedWindow(), 0u) << "nothing with a single window";
    Frame(4, 40);
    const uint64_t b = view.windows[1]->info.windowId;
    port().FixWindow(a);
    port().FixWindow(b);
    EXPECT_EQ(port().FixedWindow(), b);
    port().FixWindow(b);
    EXPECT_EQ(port().FixedWindow(), 0u);
    const auto fixes = SentOfType(OutboundType::FixChannel, 3);
    ASSERT_EQ(fixes.size(), 3u);
    EXPECT_EQ(ReadInt32(fixes[0].payload.data()), 3);
    EXPECT_EQ(ReadInt32(fixes[1].payload.data()), 4);
}

TEST_F(CommPortTest, StopClosesEveryWindowDropsPendingCommandsAndShowsDisconnect) {
    StartCall(true);
    Frame(1, 1);
    Frame(2, 2);
    port().Stop();
    EXPECT_FALSE(port().IsOpen());
    EXPECT_TRUE(view.windows[0]->closed);
    EXPECT_TRUE(view.windows[1]->closed);
    EXPECT_TRUE(port().Slots().empty());
    EXPECT_EQ(port().WindowCount(), 0);
    EXPECT_EQ(status.last(), "Disconnect");
    ProcessEvents();
    EXPECT_TRUE(view.windows[0]->postedCommands.empty()) << "commands for closed windows are dropped";

    const auto texts = status.texts.size();
    port().Stop();
    EXPECT_EQ(status.texts.size(), texts) << "a second Stop does nothing";
    port().DrainReceived();
    port().OnConnectionTimer();
    EXPECT_EQ(status.texts.size(), texts);
    // The far end sees the line closed.
    pollfd p{pty.controller(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
}

TEST_F(CommPortTest, AWindowThatCannotBeCreatedLeavesNoSlot) {
    view.failCreation = true;
    StartCall();
    Frame(1, 1);
    EXPECT_TRUE(port().Slots().empty());
    EXPECT_EQ(port().FrameCount(), 0);
    view.failCreation = false;
    Frame(1, 1);
    EXPECT_EQ(port().Slots().size(), 1u);
    EXPECT_EQ(port().FrameCount(), 1);
}
