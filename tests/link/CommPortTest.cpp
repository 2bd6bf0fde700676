#include "link/CommPort.h"
#include "app/core/ChannelTable.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> ChannelRecords(std::initializer_list<std::pair<int32_t, const char*>> entries) {
    std::vector<uint8_t> payload;
    for (const auto& [number, name] : entries) {
        std::vector<uint8_t> record(ChannelEntry::kRecordSize, 0);
        WriteInt32(record.data(), number);
        std::memcpy(record.data() + 4, name, std::strlen(name));
        payload.insert(payload.end(), record.begin(), record.end());
    }
    return payload;
}

bool IsOpenFd(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override { Make(1h); } // ticks are driven by hand unless a test says otherwise

    void Make(std::chrono::milliseconds period) {
        CommPortOptions options;
        options.timerPeriod = period;
        options.stopBound = 2000ms;
        options.clock = [this] {
            return now;
        };
        options.drainPackets = drainPackets;
        port = std::make_unique<CommPort>(dialogs, host, channels, codecs, options);
        port->AttachMainWindow(&host, &host, &host);
    }
    void StartCall(bool answered = false) { ASSERT_TRUE(port->Start(pty.releaseTerminal(), answered)); }
    // Hands bytes to the receive queue as the reader would, then drains.
    void Feed(const std::vector<uint8_t>& bytes) {
        port->PushFrontReceived(bytes);
        port->DrainReceived();
    }
    void Frame(int32_t channel, int32_t key, int width = 320) {
        Feed(Inbound(InboundType::VideoFrame, channel, key, FramePayload(width, 240)));
    }
    // Packets of `type` the viewer sent so far; waits up to 1 s for `count` of
    // them, or 100 ms when `count` is 0 (to see that none comes).
    std::vector<OutboundPacket> Sent(OutboundType type, size_t count = 0) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            std::vector<OutboundPacket> all = SplitOutbound(m_sent);
            std::erase_if(all, [type](const OutboundPacket& p) { return p.type != uint8_t(type); });
            if ((count && all.size() >= count) || clock.elapsed() >= (count ? 1000 : 100))
                return all;
            const auto more = pty.read(65536, 20);
            m_sent.insert(m_sent.end(), more.begin(), more.end());
        }
    }

    QTime now{10, 2, 13};
    int drainPackets = CommPortOptions{}.drainPackets;
    ScriptedDialogService dialogs;
    FakeHost host;
    ChannelTable channels;
    FakeDecompressorFactory codecs;
    PtyPair pty;
    std::unique_ptr<CommPort> port;

private:
    std::vector<uint8_t> m_sent;
};

TEST_F(CommPortTest, StartRefusesNonCommHandlesAndSecondCallsClosingTheirHandles) {
    TempDir dir;
    const int file = ::open(dir.file("call").c_str(), O_CREAT | O_RDWR, 0600);
    EXPECT_FALSE(port->Start(file, false));
    EXPECT_EQ(dialogs.shownTexts(), QStringList({"\n File handle is not a comm handle. \n"}));
    EXPECT_FALSE(IsOpenFd(file));
    EXPECT_FALSE(port->IsOpen());

    StartCall();
    PtyPair other;
    const int second = other.releaseTerminal();
    EXPECT_FALSE(port->Start(second, false));
    EXPECT_FALSE(IsOpenFd(second));
    EXPECT_EQ(Sent(OutboundType::Login, 1).size(), 1u) << "the running call is untouched";
}

TEST_F(CommPortTest, LoginUsesStoredValuesOrTheFixedCredentialsOfAnAnsweredCall) {
    host.login = {"alice", "secret", 0, 250};
    StartCall();
    auto logins = Sent(OutboundType::Login, 1);
    auto record = BuildLoginRecord({"alice", "secret", 0, 30});
    EXPECT_EQ(logins.at(0).payload, std::vector<uint8_t>(record.begin(), record.end()));
    Feed(Inbound(InboundType::LoginRequest));
    EXPECT_EQ(Sent(OutboundType::Login, 2).size(), 2u);
    EXPECT_TRUE(Sent(OutboundType::SiteInfoRequest).empty());
    port->Stop();

    PtyPair answered;
    ASSERT_TRUE(port->Start(answered.releaseTerminal(), true));
    const auto sent = SplitOutbound(answered.read(16 + 48 + 8 + 16 + 4 + 8));
    ASSERT_EQ(sent.size(), 2u);
    record = BuildLoginRecord({"Rav-Lookout", "Q-Lynx", 0, 30});
    EXPECT_EQ(sent[0].payload, std::vector<uint8_t>(record.begin(), record.end()));
    EXPECT_EQ(sent[1].type, uint8_t(OutboundType::SiteInfoRequest));
    EXPECT_EQ(sent[1].value(), 0);
    Feed(Inbound(InboundType::SiteInfo, 0, 0, std::vector<uint8_t>(12, 'N')));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0][11], 'N');
    EXPECT_EQ(host.events[0][12], 0) << "a short site record is zero-filled";
}

TEST_F(CommPortTest, ChannelListsSetPermissionsAndReplaceTheChannelTable) {
    StartCall();
    EXPECT_FALSE(port->CanOpenChannel());
    Feed(Inbound(InboundType::ChannelList, 3, 3, ChannelRecords({{0, "Zero"}, {-1, "Neg"}, {4, "Gate"}})));
    EXPECT_TRUE(port->CanOpenChannel());
    EXPECT_EQ(port->ChannelChoiceLines(), QStringList({"0004 Gate"}));
    Frame(4, 1);
    EXPECT_TRUE(host.windows.at(0)->info.mayClose);

    // A count beyond the payload reads only the entries present.
    Feed(Inbound(InboundType::ChannelList, 50, 1, ChannelRecords({{8, "Yard"}})));
    EXPECT_EQ(channels.GetChannelName(8), "Yard");
    EXPECT_FALSE(port->MayCloseChannels());
    Frame(8, 2);
    EXPECT_FALSE(host.windows.at(1)->info.mayClose);

    Feed(Inbound(InboundType::ChannelList, 0, 1));
    EXPECT_TRUE(channels.empty());
    EXPECT_FALSE(port->CanOpenChannel());
}

TEST_F(CommPortTest, RequestsArePostedAfterTheDrainAndUnknownTypesShowStreamError) {
    StartCall();
    Feed(Concat({Inbound(InboundType::ChannelPrompt), Inbound(7), Inbound(InboundType::LoginRejected),
                 Inbound(InboundType::HangUpRequest)}));
    EXPECT_TRUE(host.commands.empty()) << "never delivered from inside parsing";
    EXPECT_EQ(host.status.last(), "Stream error!");
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands,
              (std::vector<CommandId>{CommandId::OpenChannel, CommandId::LoginError, CommandId::HangUp}));

    now = QTime(10, 5, 40);
    Frame(1, 1);
    Frame(1, 1);
    port->OnConnectionTimer();
    EXPECT_EQ(host.status.last(), "Connect:  10:02:13 -- 10:05:40    Frame: 2");
}

TEST_F(CommPortTest, KeepAlivesGoOutEveryTwentySecondTick) {
    StartCall();
    for (int tick = 1; tick <= 21; ++tick)
        port->OnConnectionTimer();
    EXPECT_TRUE(Sent(OutboundType::KeepAlive).empty());
    port->OnConnectionTimer();
    EXPECT_EQ(Sent(OutboundType::KeepAlive, 1).size(), 1u);
    for (int tick = 23; tick <= 43; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(Sent(OutboundType::KeepAlive).size(), 1u);
    port->OnConnectionTimer();
    EXPECT_EQ(Sent(OutboundType::KeepAlive, 2).size(), 2u);
}

TEST_F(CommPortTest, TheTimerDrainsTheLineOnTheEventLoopUntilStop) {
    Make(5ms);
    StartCall();
    ASSERT_TRUE(pty.write(Inbound(InboundType::ChannelPrompt)));
    QElapsedTimer clock;
    clock.start();
    while ((host.commands.empty() || host.status.size() < 3) && clock.elapsed() < 3000)
        QCoreApplication::processEvents();
    EXPECT_EQ(host.commands, std::vector<CommandId>{CommandId::OpenChannel});
    port->Stop();
    const auto texts = host.status.size();
    EXPECT_EQ(host.status.last(), "Disconnect");
    clock.restart();
    while (clock.elapsed() < 30)
        QCoreApplication::processEvents();
    EXPECT_EQ(host.status.size(), texts) << "no tick after Stop";
}

TEST_F(CommPortTest, NewStreamsCascadeAndStartOverAtTheLeftEdge) {
    host.size = QSize(360, 600);
    StartCall();
    Frame(1, 11);
    Frame(2, 12);
    Frame(3, 13);
    ASSERT_EQ(host.windows.size(), 3u);
    EXPECT_EQ(host.windows[0]->geometry, QRect(0, 0, 320, 240));
    EXPECT_EQ(host.windows[1]->geometry, QRect(28, 22, 320, 240));
    EXPECT_EQ(host.windows[2]->geometry.topLeft(), QPoint(0, 44)) << "56 > 360 - 320";
    EXPECT_EQ(host.windows[1]->info.streamKey, 12);
    EXPECT_EQ(host.windows[1]->streamWidth, 320);
    EXPECT_FALSE(host.maximized) << "no tiling while VideoArrange is off";

    // Each stream decodes in its own state, whatever the interleaving: the
    // second picture of stream 12 is its own second, not the call's fourth.
    Frame(2, 12);
    Frame(1, 11);
    const std::vector<uint8_t> first{'D', 'E', 'C', 1}, second{'D', 'E', 'C', 2};
    EXPECT_EQ(host.windows[1]->drawn, (std::vector<std::vector<uint8_t>>{first, second}));
    EXPECT_EQ(host.windows[0]->drawn, (std::vector<std::vector<uint8_t>>{first, second}));
    EXPECT_EQ(host.windows[2]->drawn, (std::vector<std::vector<uint8_t>>{first}));
    EXPECT_EQ(host.windows[1]->delivered, 2);
    EXPECT_EQ(port->FrameCount(), 5);
    EXPECT_EQ(codecs.calls, QStringList{"iv50"}) << "the kind is chosen once per call";
}

TEST_F(CommPortTest, WithVideoArrangeWindowsAreTiledAndRetiledWhenOneCloses) {
    host.videoArrange = true;
    StartCall();
    Frame(1, 1);
    Frame(2, 2);
    host.bars = false;
    Frame(3, 3);
    EXPECT_TRUE(host.maximized);
    EXPECT_EQ(host.windows[0]->geometry, QRect(100, 0, 400, 300));
    EXPECT_EQ(host.windows[1]->geometry, QRect(500, 0, 400, 300));
    EXPECT_EQ(host.windows[2]->geometry, QRect(100, 300, 400, 300));
    EXPECT_EQ(host.windows[2]->bars, std::vector<bool>{false});

    port->CloseWindow(host.windows[1]->info.windowId, true);
    EXPECT_EQ(host.windows[0]->geometry, QRect(0, 112, 500, 375));
    EXPECT_EQ(host.windows[2]->geometry, QRect(500, 112, 500, 375));
}

TEST_F(CommPortTest, ClosedWindowsGetNoFramesAndNoSuccessorAndOpenChecksLiveWindows) {
    EXPECT_FALSE(port->RequestOpenChannel(5)) << "not while disconnected";
    StartCall();
    Frame(5, 50);
    Frame(6, 60);
    EXPECT_FALSE(port->RequestOpenChannel(5));
    const uint64_t first = host.windows[0]->info.windowId;
    port->CloseWindow(first, true);
    EXPECT_TRUE(host.windows[0]->closed);
    EXPECT_EQ(port->WindowCount(), 1);
    EXPECT_EQ(Sent(OutboundType::CloseChannel, 1).at(0).value(), 5);

    Frame(5, 50);
    EXPECT_EQ(host.windows.size(), 2u);
    EXPECT_EQ(port->FrameCount(), 2);
    EXPECT_EQ(port->Slots().size(), 2u) << "the slot lives on until the call ends";
    EXPECT_TRUE(port->RequestOpenChannel(5));
    EXPECT_EQ(Sent(OutboundType::OpenChannel, 1).at(0).value(), 5);

    // A window the site stopped closes without a packet; stale ids do nothing.
    Feed(Inbound(InboundType::ChannelClosed, 0, 60));
    EXPECT_TRUE(host.windows[1]->closedBySite);
    port->CloseWindow(host.windows[1]->info.windowId, false);
    port->CloseWindow(first, true);
    EXPECT_EQ(Sent(OutboundType::CloseChannel).size(), 1u);
}

TEST_F(CommPortTest, MalformedFramesAreDroppedUncounted) {
    StartCall();
    auto wrongSize = FramePayload(320, 240);
    WriteInt32(wrongSize.data(), 41);
    auto hugeTable = FramePayload(320, 240);
    WriteInt32(hugeTable.data() + 32, 0x40000001); // 4 x this wraps to 4 in 32 bits
    auto longImage = FramePayload(320, 240, 16);
    WriteInt32(longImage.data() + 20, 17);
    // Headers that describe no picture: no window, no recording, no clip.
    const auto header = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression, size_t image) {
        auto frame = FramePayload(w, h, image);
        BitmapInfoHeader hd = *BitmapInfoHeader::parse(frame);
        hd.biBitCount = bits;
        hd.biCompression = compression;
        hd.write(frame.data());
        return frame;
    };
    const uint32_t iv50 = makeFourCC('I', 'V', '5', '0');
    const std::vector<std::vector<uint8_t>> noPicture = {
        header(0, 240, 24, iv50, 16),
        header(-320, 240, 24, iv50, 16),
        header(320, 0, 24, iv50, 16),
        header(320, 240, 0, iv50, 16),
        header(320, 240, 12, iv50, 16),
        header(320, 240, 48, iv50, 16),
        header(4, 4, 24, BitmapInfoHeader::kRgb, 4 * 12 - 1), // rows need 48 bytes
        header(4, -4, 8, BitmapInfoHeader::kRgb, 15),         // 4 rows of 4 bytes
    };
    // Said once in the log per call, however many come.
    static std::vector<std::string> logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
            if (context.category && std::string_view(context.category) == "dialscope.link")
                logged.push_back(text.toStdString());
        });
    for (const auto& payload : {std::vector<uint8_t>(39, 0), wrongSize, hugeTable, longImage})
        Feed(Inbound(InboundType::VideoFrame, 1, 1, payload));
    for (const auto& payload : noPicture)
        Feed(Inbound(InboundType::VideoFrame, 1, 1, payload));
    qInstallMessageHandler(previous);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("describes no picture"), std::string::npos) << logged[0];
    EXPECT_TRUE(host.windows.empty());
    EXPECT_EQ(port->FrameCount(), 0);
    EXPECT_TRUE(codecs.calls.isEmpty());

    // The same rows exactly held, with biSizeImage given or 0: a picture.
    Feed(Inbound(InboundType::VideoFrame, 1, 1, header(4, 4, 24, BitmapInfoHeader::kRgb, 48)));
    auto unsized = header(4, -4, 8, BitmapInfoHeader::kRgb, 16);
    WriteInt32(unsized.data() + 20, 0);
    Feed(Inbound(InboundType::VideoFrame, 2, 2, unsized));
    EXPECT_EQ(host.windows.size(), 2u);
}

TEST_F(CommPortTest, FramesDeclaringPicturesBeyondALiveChannelAreDroppedUncounted) {
    // Decoding and scaling cost what the header's area declares, whatever
    // data follows: one such frame would hold the user interface for seconds.
    constexpr int64_t kMax = CommPort::kMaxLiveFramePixels;
    StartCall();
    for (const auto& [w, h] : {std::pair{8192, 8192},
                               {int(kMax / 240 + 1), 240},
                               {1281, 1024},
                               {1280, -1025},
                               {320, INT32_MIN},
                               {INT32_MAX, 1}})
        Feed(Inbound(InboundType::VideoFrame, 1, 1, FramePayload(w, h)));
    EXPECT_TRUE(host.windows.empty());
    EXPECT_EQ(port->FrameCount(), 0);
    EXPECT_TRUE(codecs.calls.isEmpty());

    // Real large sites still get windows (a 720p camera, the largest area,
    // a wide strip); an established stream drops an oversized frame and goes on.
    Feed(Inbound(InboundType::VideoFrame, 1, 1, FramePayload(1280, 720)));
    Feed(Inbound(InboundType::VideoFrame, 3, 3, FramePayload(1280, -1024)));
    Feed(Inbound(InboundType::VideoFrame, 4, 4, FramePayload(2048, 64)));
    Feed(Inbound(InboundType::VideoFrame, 2, 2, FramePayload(160, 120)));
    Feed(Inbound(InboundType::VideoFrame, 2, 2, FramePayload(160, 8193)));
    Feed(Inbound(InboundType::VideoFrame, 2, 2, FramePayload(160, 120)));
    ASSERT_EQ(host.windows.size(), 4u);
    EXPECT_EQ(host.windows[0]->geometry.width(), 1280);
    EXPECT_EQ(host.windows[3]->drawn.size(), 2u);
    EXPECT_EQ(port->FrameCount(), 5);
}

TEST_F(CommPortTest, TheDecompressorIsChosenOnceOrTheCallIsDroppedOnce) {
    codecs.handlers = {{"iv50", false}};
    codecs.locates = true;
    codecs.decodes = false;
    StartCall();
    Frame(1, 1);
    Frame(2, 2);
    EXPECT_EQ(codecs.calls, QStringList({"iv50", "iv32", "locate"}));
    EXPECT_TRUE(host.windows.at(1)->drawn.empty()) << "undecodable: the last picture stays";
    port->Stop();

    codecs.locates = false;
    PtyPair next;
    ASSERT_TRUE(port->Start(next.releaseTerminal(), false));
    Frame(1, 1);
    Feed(Inbound(InboundType::ChannelPrompt));
    Frame(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands, std::vector<CommandId>{CommandId::CompressionError})
        << "posted once; the receiver halts";
    EXPECT_EQ(host.windows.size(), 2u);
}

TEST_F(CommPortTest, AnsweredCallWindowsSoundTheAlarmRecordAndSnapshotFromTheFirstFrame) {
    StartCall(true);
    Frame(1, 1);
    Frame(2, 2);
    EXPECT_EQ(host.alarms, 2);
    EXPECT_TRUE(host.windows[0]->commands.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(host.windows[0]->commands,
              (std::vector<CommandId>{CommandId::ChannelRecord, CommandId::ChannelSnapshot}));
    EXPECT_EQ(host.windows[0]->drawnAtFirstCommand, 1u) << "after the first picture was shown";
    host.windows[0]->recording = true;
    Frame(1, 1);
    EXPECT_EQ(host.windows[0]->recorded, 1);
    EXPECT_EQ(host.windows[1]->recorded, 0);
}

TEST_F(CommPortTest, FixTogglesTheFixedWindowAndSendsFixChannelEachTime) {
    StartCall();
    Frame(3, 30);
    const uint64_t a = host.windows[0]->info.windowId;
    port->FixWindow(a);
    EXPECT_EQ(port->FixedWindow(), 0u) << "nothing with a single window";
    Frame(4, 40);
    const uint64_t b = host.windows[1]->info.windowId;
    port->FixWindow(a);
    port->FixWindow(b);
    EXPECT_EQ(port->FixedWindow(), b);
    port->FixWindow(b);
    EXPECT_EQ(port->FixedWindow(), 0u);
    const auto fixes = Sent(OutboundType::FixChannel, 3);
    ASSERT_EQ(fixes.size(), 3u);
    EXPECT_EQ(fixes[0].value(), 3);
    EXPECT_EQ(fixes[1].value(), 4);
}

TEST_F(CommPortTest, StopClosesEveryWindowDropsPendingCommandsAndHangsUpTheLine) {
    StartCall(true);
    Frame(1, 1);
    Frame(2, 2);
    port->Stop();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_TRUE(host.windows[0]->closed && host.windows[1]->closed);
    EXPECT_TRUE(port->Slots().empty());
    EXPECT_EQ(port->WindowCount(), 0);
    EXPECT_EQ(host.status.last(), "Disconnect");
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.windows[0]->commands.empty()) << "commands for closed windows are dropped";

    const auto texts = host.status.size();
    port->Stop();
    port->OnConnectionTimer();
    EXPECT_EQ(host.status.size(), texts) << "a second Stop does nothing";
    pollfd p{pty.controller(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << "the far end sees the line closed";
}

// ---------------------------------------------------------------------------
// Well-formed floods from a hostile caller

TEST_F(CommPortTest, NewStreamKeysBeyondTheWindowOrKeyLimitAreDroppedLikeFramesOfClosedWindows) {
    StartCall(true);
    const int windows = CommPort::kMaxChannelWindows;
    for (int key = 1; key <= windows + 20; ++key)
        Frame(key, key, 160);
    EXPECT_EQ(host.windows.size(), size_t(windows));
    EXPECT_EQ(port->WindowCount(), windows);
    EXPECT_EQ(port->FrameCount(), windows) << "dropped frames are not counted";
    EXPECT_EQ(host.alarms, windows);
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.windows.back()->commands.size() == 2u) << "recording and snapshot only for windows";

    // A closed window makes room; keys seen while full were never remembered.
    port->CloseWindow(host.windows[0]->info.windowId, false);
    Frame(windows + 5, windows + 5, 160);
    EXPECT_EQ(host.windows.size(), size_t(windows) + 1);

    // Keys of closed windows stay remembered up to the key limit, then no
    // new stream gets a window even with room for one.
    for (size_t key = 10000; port->Slots().size() < CommPort::kMaxStreamKeys; ++key) {
        port->CloseWindow(host.windows.back()->info.windowId, false);
        Frame(1, int32_t(key), 160);
    }
    const size_t made = host.windows.size();
    port->CloseWindow(host.windows.back()->info.windowId, false);
    Frame(1, 999999, 160);
    EXPECT_EQ(host.windows.size(), made);
    EXPECT_EQ(port->Slots().size(), CommPort::kMaxStreamKeys);
    Frame(2, 2, 160);
    EXPECT_EQ(host.windows[1]->drawn.size(), 2u) << "open streams go on";
}

TEST_F(CommPortTest, RepeatedRequestsAreCoalescedAndUnaskedSiteRecordsIgnored) {
    StartCall(true);
    const std::vector<uint8_t> record(Wire::kSiteRecordSize, 'R');
    std::vector<uint8_t> flood;
    for (int i = 0; i < 60; ++i)
        flood = Concat({flood, Inbound(InboundType::ChannelPrompt), Inbound(InboundType::LoginRejected),
                        Inbound(InboundType::HangUpRequest), Inbound(InboundType::SiteInfo, 0, 0, record)});
    port->PushFrontReceived(flood);
    for (int tick = 0; tick < 4; ++tick)
        port->DrainReceived();
    // A prompt that arrives while the channel choice runs is absorbed too.
    host.whileRunning = [this](CommandId command) {
        if (command == CommandId::OpenChannel) {
            Feed(Inbound(InboundType::ChannelPrompt));
            QCoreApplication::processEvents();
        }
    };
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands,
              (std::vector<CommandId>{CommandId::OpenChannel, CommandId::LoginError, CommandId::HangUp}));
    EXPECT_EQ(host.events.size(), 1u) << "one record per request sent";

    // Finished commands may come again; the rejection notice not in this call.
    host.whileRunning = nullptr;
    Feed(Concat({Inbound(InboundType::ChannelPrompt), Inbound(InboundType::LoginRejected)}));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands, (std::vector<CommandId>{CommandId::OpenChannel, CommandId::LoginError,
                                                     CommandId::HangUp, CommandId::OpenChannel}));

    // The next call asks (and may be refused) afresh; a LoginRequest resends
    // the request and allows one more record.
    port->Stop();
    PtyPair next;
    ASSERT_TRUE(port->Start(next.releaseTerminal(), true));
    Feed(Concat({Inbound(InboundType::LoginRejected), Inbound(InboundType::SiteInfo, 0, 0, record),
                 Inbound(InboundType::LoginRequest), Inbound(InboundType::SiteInfo, 0, 0, record),
                 Inbound(InboundType::SiteInfo, 0, 0, record)}));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands.back(), CommandId::LoginError);
    EXPECT_EQ(host.events.size(), 3u);
}

TEST_F(CommPortTest, ADrainHandlesABoundedBatchAndKeepAlivesKeepTheirCadenceUnderAFlood) {
    drainPackets = 10;
    Make(1h);
    StartCall();
    std::vector<uint8_t> flood;
    for (int i = 0; i < 400; ++i)
        flood = Concat({flood, Inbound(InboundType::VideoFrame, 1, 1, FramePayload(160, 120))});
    port->PushFrontReceived(flood);
    port->DrainReceived();
    EXPECT_EQ(port->FrameCount(), 10) << "the rest waits for the next tick";
    for (int tick = 1; tick <= 22; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(port->FrameCount(), 230);
    EXPECT_EQ(Sent(OutboundType::KeepAlive, 1).size(), 1u) << "the 22nd tick, flood or not";
    for (int tick = 0; tick < 20; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(port->FrameCount(), 400) << "nothing lost, in order";
    EXPECT_EQ(host.windows.at(0)->drawn.back(), (std::vector<uint8_t>{'D', 'E', 'C', uint8_t(400 % 256)}));
}

TEST_F(CommPortTest, ABurstOfNewStreamsOpensItsWindowsOverSeveralTicksInOrder) {
    Make(1h);
    StartCall(true);
    std::vector<uint8_t> burst;
    for (int key = 1; key <= 10; ++key)
        burst = Concat({burst, Inbound(InboundType::VideoFrame, 1, key, FramePayload(160, 120))});
    burst = Concat({burst, Inbound(InboundType::VideoFrame, 1, 1, FramePayload(160, 120))});
    port->PushFrontReceived(burst);
    const int perDrain = CommPortOptions{}.drainNewWindows;
    port->DrainReceived();
    EXPECT_EQ(host.windows.size(), size_t(perDrain)) << "the rest waits for the next tick";
    EXPECT_EQ(port->FrameCount(), perDrain);
    port->DrainReceived();
    port->DrainReceived();
    ASSERT_EQ(host.windows.size(), 10u);
    for (size_t i = 0; i < host.windows.size(); ++i)
        EXPECT_EQ(host.windows[i]->info.streamKey, int32_t(i + 1));
    EXPECT_EQ(port->FrameCount(), 11) << "nothing lost";
}
