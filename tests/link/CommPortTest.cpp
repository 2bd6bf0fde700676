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

std::vector<uint8_t> channelRecords(std::initializer_list<std::pair<int32_t, const char*>> entries) {
    std::vector<uint8_t> payload;
    for (const auto& [number, name] : entries) {
        std::vector<uint8_t> record(ChannelEntry::kRecordSize, 0);
        writeInt32(record.data(), number);
        std::memcpy(record.data() + 4, name, std::strlen(name));
        payload.insert(payload.end(), record.begin(), record.end());
    }
    return payload;
}

bool isOpenFd(int fd) {
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
        port->attachMainWindow(&host, &host, &host);
    }
    void startCall(bool answered = false) { ASSERT_TRUE(port->Start(pty.releaseTerminal(), answered)); }
    // Hands bytes to the receive queue as the reader would, then drains.
    void feed(const std::vector<uint8_t>& bytes) {
        port->PushFrontReceived(bytes);
        port->DrainReceived();
    }
    void Frame(int32_t channel, int32_t key, int width = 320) {
        feed(inbound(InboundType::VideoFrame, channel, key, framePayload(width, 240)));
    }
    // Packets of `type` the viewer sent so far; waits up to 1 s for `count` of
    // them, or 100 ms when `count` is 0 (to see that none comes).
    std::vector<OutboundPacket> sent(OutboundType type, size_t count = 0) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            std::vector<OutboundPacket> all = splitOutbound(m_sent);
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
    EXPECT_FALSE(isOpenFd(file));
    EXPECT_FALSE(port->IsOpen());

    startCall();
    PtyPair other;
    const int second = other.releaseTerminal();
    EXPECT_FALSE(port->Start(second, false));
    EXPECT_FALSE(isOpenFd(second));
    EXPECT_EQ(sent(OutboundType::Login, 1).size(), 1u) << "the running call is untouched";
}

TEST_F(CommPortTest, LoginUsesStoredValuesOrTheFixedCredentialsOfAnAnsweredCall) {
    host.login = {"alice", "secret", 0, 250};
    startCall();
    auto logins = sent(OutboundType::Login, 1);
    auto record = buildLoginRecord({"alice", "secret", 0, 30});
    EXPECT_EQ(logins.at(0).payload, std::vector<uint8_t>(record.begin(), record.end()));
    feed(inbound(InboundType::LoginRequest));
    EXPECT_EQ(sent(OutboundType::Login, 2).size(), 2u);
    EXPECT_TRUE(sent(OutboundType::SiteInfoRequest).empty());
    port->Stop();

    PtyPair answered;
    ASSERT_TRUE(port->Start(answered.releaseTerminal(), true));
    const auto sent = splitOutbound(answered.read(16 + 48 + 8 + 16 + 4 + 8));
    ASSERT_EQ(sent.size(), 2u);
    record = buildLoginRecord({"Rav-Lookout", "Q-Lynx", 0, 30});
    EXPECT_EQ(sent[0].payload, std::vector<uint8_t>(record.begin(), record.end()));
    EXPECT_EQ(sent[1].type, uint8_t(OutboundType::SiteInfoRequest));
    EXPECT_EQ(sent[1].value(), 0);
    feed(inbound(InboundType::SiteInfo, 0, 0, std::vector<uint8_t>(12, 'N')));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0][11], 'N');
    EXPECT_EQ(host.events[0][12], 0) << "a short site record is zero-filled";
}

TEST_F(CommPortTest, ChannelListsSetPermissionsAndReplaceTheChannelTable) {
    startCall();
    EXPECT_FALSE(port->canOpenChannel());
    feed(inbound(InboundType::ChannelList, 3, 3, channelRecords({{0, "Zero"}, {-1, "Neg"}, {4, "Gate"}})));
    EXPECT_TRUE(port->canOpenChannel());
    EXPECT_EQ(port->channelChoiceLines(), QStringList({"0004 Gate"}));
    Frame(4, 1);
    EXPECT_TRUE(host.windows.at(0)->info.mayClose);

    // A count beyond the payload reads only the entries present.
    feed(inbound(InboundType::ChannelList, 50, 1, channelRecords({{8, "Yard"}})));
    EXPECT_EQ(channels.GetChannelName(8), "Yard");
    EXPECT_FALSE(port->mayCloseChannels());
    Frame(8, 2);
    EXPECT_FALSE(host.windows.at(1)->info.mayClose);

    feed(inbound(InboundType::ChannelList, 0, 1));
    EXPECT_TRUE(channels.empty());
    EXPECT_FALSE(port->canOpenChannel());
}

TEST_F(CommPortTest, RequestsArePostedAfterTheDrainAndUnknownTypesShowStreamError) {
    startCall();
    feed(concat({inbound(InboundType::ChannelPrompt), inbound(7), inbound(InboundType::LoginRejected),
                 inbound(InboundType::HangUpRequest)}));
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
    startCall();
    for (int tick = 1; tick <= 21; ++tick)
        port->OnConnectionTimer();
    EXPECT_TRUE(sent(OutboundType::KeepAlive).empty());
    port->OnConnectionTimer();
    EXPECT_EQ(sent(OutboundType::KeepAlive, 1).size(), 1u);
    for (int tick = 23; tick <= 43; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(sent(OutboundType::KeepAlive).size(), 1u);
    port->OnConnectionTimer();
    EXPECT_EQ(sent(OutboundType::KeepAlive, 2).size(), 2u);
}

TEST_F(CommPortTest, TheTimerDrainsTheLineOnTheEventLoopUntilStop) {
    Make(5ms);
    startCall();
    ASSERT_TRUE(pty.write(inbound(InboundType::ChannelPrompt)));
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
    startCall();
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
    EXPECT_EQ(port->frameCount(), 5);
    EXPECT_EQ(codecs.calls, QStringList{"iv50"}) << "the kind is chosen once per call";
}

TEST_F(CommPortTest, WithVideoArrangeWindowsAreTiledAndRetiledWhenOneCloses) {
    host.videoArrange = true;
    startCall();
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
    EXPECT_FALSE(port->requestOpenChannel(5)) << "not while disconnected";
    startCall();
    Frame(5, 50);
    Frame(6, 60);
    EXPECT_FALSE(port->requestOpenChannel(5));
    const uint64_t first = host.windows[0]->info.windowId;
    port->CloseWindow(first, true);
    EXPECT_TRUE(host.windows[0]->closed);
    EXPECT_EQ(port->WindowCount(), 1);
    EXPECT_EQ(sent(OutboundType::CloseChannel, 1).at(0).value(), 5);

    Frame(5, 50);
    EXPECT_EQ(host.windows.size(), 2u);
    EXPECT_EQ(port->frameCount(), 2);
    EXPECT_EQ(port->channelSlots().size(), 2u) << "the slot lives on until the call ends";
    EXPECT_TRUE(port->requestOpenChannel(5));
    EXPECT_EQ(sent(OutboundType::OpenChannel, 1).at(0).value(), 5);

    // A window the site stopped closes without a packet; stale ids do nothing.
    feed(inbound(InboundType::ChannelClosed, 0, 60));
    EXPECT_TRUE(host.windows[1]->closedBySite);
    port->CloseWindow(host.windows[1]->info.windowId, false);
    port->CloseWindow(first, true);
    EXPECT_EQ(sent(OutboundType::CloseChannel).size(), 1u);
}

TEST_F(CommPortTest, MalformedFramesAreDroppedUncounted) {
    startCall();
    auto wrongSize = framePayload(320, 240);
    writeInt32(wrongSize.data(), 41);
    auto hugeTable = framePayload(320, 240);
    writeInt32(hugeTable.data() + 32, 0x40000001); // 4 x this wraps to 4 in 32 bits
    auto longImage = framePayload(320, 240, 16);
    writeInt32(longImage.data() + 20, 17);
    // Headers that describe no picture: no window, no recording, no clip.
    const auto header = [](int32_t w, int32_t h, uint16_t bits, uint32_t compression, size_t image) {
        auto frame = framePayload(w, h, image);
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
        feed(inbound(InboundType::VideoFrame, 1, 1, payload));
    for (const auto& payload : noPicture)
        feed(inbound(InboundType::VideoFrame, 1, 1, payload));
    qInstallMessageHandler(previous);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_NE(logged[0].find("describes no picture"), std::string::npos) << logged[0];
    EXPECT_TRUE(host.windows.empty());
    EXPECT_EQ(port->frameCount(), 0);
    EXPECT_TRUE(codecs.calls.isEmpty());

    // The same rows exactly held, with biSizeImage given or 0: a picture.
    feed(inbound(InboundType::VideoFrame, 1, 1, header(4, 4, 24, BitmapInfoHeader::kRgb, 48)));
    auto unsized = header(4, -4, 8, BitmapInfoHeader::kRgb, 16);
    writeInt32(unsized.data() + 20, 0);
    feed(inbound(InboundType::VideoFrame, 2, 2, unsized));
    EXPECT_EQ(host.windows.size(), 2u);
}

TEST_F(CommPortTest, FramesDeclaringPicturesBeyondALiveChannelAreDroppedUncounted) {
    // Decoding and scaling cost what the header's area declares, whatever
    // data follows: one such frame would hold the user interface for seconds.
    constexpr int64_t kMax = CommPort::kMaxLiveFramePixels;
    startCall();
    for (const auto& [w, h] : {std::pair{8192, 8192},
                               {int(kMax / 240 + 1), 240},
                               {1281, 1024},
                               {1280, -1025},
                               {320, INT32_MIN},
                               {INT32_MAX, 1}})
        feed(inbound(InboundType::VideoFrame, 1, 1, framePayload(w, h)));
    EXPECT_TRUE(host.windows.empty());
    EXPECT_EQ(port->frameCount(), 0);
    EXPECT_TRUE(codecs.calls.isEmpty());

    // Real large sites still get windows (a 720p camera, the largest area,
    // a wide strip); an established stream drops an oversized frame and goes on.
    feed(inbound(InboundType::VideoFrame, 1, 1, framePayload(1280, 720)));
    feed(inbound(InboundType::VideoFrame, 3, 3, framePayload(1280, -1024)));
    feed(inbound(InboundType::VideoFrame, 4, 4, framePayload(2048, 64)));
    feed(inbound(InboundType::VideoFrame, 2, 2, framePayload(160, 120)));
    feed(inbound(InboundType::VideoFrame, 2, 2, framePayload(160, 8193)));
    feed(inbound(InboundType::VideoFrame, 2, 2, framePayload(160, 120)));
    ASSERT_EQ(host.windows.size(), 4u);
    EXPECT_EQ(host.windows[0]->geometry.width(), 1280);
    EXPECT_EQ(host.windows[3]->drawn.size(), 2u);
    EXPECT_EQ(port->frameCount(), 5);
}

TEST_F(CommPortTest, TheDecompressorIsChosenOnceOrTheCallIsDroppedOnce) {
    codecs.handlers = {{"iv50", false}};
    codecs.locates = true;
    codecs.decodes = false;
    startCall();
    Frame(1, 1);
    Frame(2, 2);
    EXPECT_EQ(codecs.calls, QStringList({"iv50", "iv32", "locate"}));
    EXPECT_TRUE(host.windows.at(1)->drawn.empty()) << "undecodable: the last picture stays";
    port->Stop();

    codecs.locates = false;
    PtyPair next;
    ASSERT_TRUE(port->Start(next.releaseTerminal(), false));
    Frame(1, 1);
    feed(inbound(InboundType::ChannelPrompt));
    Frame(1, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands, std::vector<CommandId>{CommandId::CompressionError})
        << "posted once; the receiver halts";
    EXPECT_EQ(host.windows.size(), 2u);
}

TEST_F(CommPortTest, AnsweredCallWindowsSoundTheAlarmRecordAndSnapshotFromTheFirstFrame) {
    startCall(true);
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
    startCall();
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
    const auto fixes = sent(OutboundType::FixChannel, 3);
    ASSERT_EQ(fixes.size(), 3u);
    EXPECT_EQ(fixes[0].value(), 3);
    EXPECT_EQ(fixes[1].value(), 4);
}

TEST_F(CommPortTest, StopClosesEveryWindowDropsPendingCommandsAndHangsUpTheLine) {
    startCall(true);
    Frame(1, 1);
    Frame(2, 2);
    port->Stop();
    EXPECT_FALSE(port->IsOpen());
    EXPECT_TRUE(host.windows[0]->closed && host.windows[1]->closed);
    EXPECT_TRUE(port->channelSlots().empty());
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
    startCall(true);
    const int windows = CommPort::kMaxChannelWindows;
    for (int key = 1; key <= windows + 20; ++key)
        Frame(key, key, 160);
    EXPECT_EQ(host.windows.size(), size_t(windows));
    EXPECT_EQ(port->WindowCount(), windows);
    EXPECT_EQ(port->frameCount(), windows) << "dropped frames are not counted";
    EXPECT_EQ(host.alarms, windows);
    QCoreApplication::processEvents();
    EXPECT_TRUE(host.windows.back()->commands.size() == 2u) << "recording and snapshot only for windows";

    // A closed window makes room; keys seen while full were never remembered.
    port->CloseWindow(host.windows[0]->info.windowId, false);
    Frame(windows + 5, windows + 5, 160);
    EXPECT_EQ(host.windows.size(), size_t(windows) + 1);

    // Keys of closed windows stay remembered up to the key limit, then no
    // new stream gets a window even with room for one.
    for (size_t key = 10000; port->channelSlots().size() < CommPort::kMaxStreamKeys; ++key) {
        port->CloseWindow(host.windows.back()->info.windowId, false);
        Frame(1, int32_t(key), 160);
    }
    const size_t made = host.windows.size();
    port->CloseWindow(host.windows.back()->info.windowId, false);
    Frame(1, 999999, 160);
    EXPECT_EQ(host.windows.size(), made);
    EXPECT_EQ(port->channelSlots().size(), CommPort::kMaxStreamKeys);
    Frame(2, 2, 160);
    EXPECT_EQ(host.windows[1]->drawn.size(), 2u) << "open streams go on";
}

TEST_F(CommPortTest, RepeatedRequestsAreCoalescedAndUnaskedSiteRecordsIgnored) {
    startCall(true);
    const std::vector<uint8_t> record(Wire::kSiteRecordSize, 'R');
    std::vector<uint8_t> flood;
    for (int i = 0; i < 60; ++i)
        flood = concat({flood, inbound(InboundType::ChannelPrompt), inbound(InboundType::LoginRejected),
                        inbound(InboundType::HangUpRequest), inbound(InboundType::SiteInfo, 0, 0, record)});
    port->PushFrontReceived(flood);
    for (int tick = 0; tick < 4; ++tick)
        port->DrainReceived();
    // A prompt that arrives while the channel choice runs is absorbed too.
    host.whileRunning = [this](CommandId command) {
        if (command == CommandId::OpenChannel) {
            feed(inbound(InboundType::ChannelPrompt));
            QCoreApplication::processEvents();
        }
    };
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands,
              (std::vector<CommandId>{CommandId::OpenChannel, CommandId::LoginError, CommandId::HangUp}));
    EXPECT_EQ(host.events.size(), 1u) << "one record per request sent";

    // Finished commands may come again; the rejection notice not in this call.
    host.whileRunning = nullptr;
    feed(concat({inbound(InboundType::ChannelPrompt), inbound(InboundType::LoginRejected)}));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands, (std::vector<CommandId>{CommandId::OpenChannel, CommandId::LoginError,
                                                     CommandId::HangUp, CommandId::OpenChannel}));

    // The next call asks (and may be refused) afresh; a LoginRequest resends
    // the request and allows one more record.
    port->Stop();
    PtyPair next;
    ASSERT_TRUE(port->Start(next.releaseTerminal(), true));
    feed(concat({inbound(InboundType::LoginRejected), inbound(InboundType::SiteInfo, 0, 0, record),
                 inbound(InboundType::LoginRequest), inbound(InboundType::SiteInfo, 0, 0, record),
                 inbound(InboundType::SiteInfo, 0, 0, record)}));
    QCoreApplication::processEvents();
    EXPECT_EQ(host.commands.back(), CommandId::LoginError);
    EXPECT_EQ(host.events.size(), 3u);
}

TEST_F(CommPortTest, ADrainHandlesABoundedBatchAndKeepAlivesKeepTheirCadenceUnderAFlood) {
    drainPackets = 10;
    Make(1h);
    startCall();
    std::vector<uint8_t> flood;
    for (int i = 0; i < 400; ++i)
        flood = concat({flood, inbound(InboundType::VideoFrame, 1, 1, framePayload(160, 120))});
    port->PushFrontReceived(flood);
    port->DrainReceived();
    EXPECT_EQ(port->frameCount(), 10) << "the rest waits for the next tick";
    for (int tick = 1; tick <= 22; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(port->frameCount(), 230);
    EXPECT_EQ(sent(OutboundType::KeepAlive, 1).size(), 1u) << "the 22nd tick, flood or not";
    for (int tick = 0; tick < 20; ++tick)
        port->OnConnectionTimer();
    EXPECT_EQ(port->frameCount(), 400) << "nothing lost, in order";
    EXPECT_EQ(host.windows.at(0)->drawn.back(), (std::vector<uint8_t>{'D', 'E', 'C', uint8_t(400 % 256)}));
}

TEST_F(CommPortTest, ABurstOfNewStreamsOpensItsWindowsOverSeveralTicksInOrder) {
    Make(1h);
    startCall(true);
    std::vector<uint8_t> burst;
    for (int key = 1; key <= 10; ++key)
        burst = concat({burst, inbound(InboundType::VideoFrame, 1, key, framePayload(160, 120))});
    burst = concat({burst, inbound(InboundType::VideoFrame, 1, 1, framePayload(160, 120))});
    port->PushFrontReceived(burst);
    const int perDrain = CommPortOptions{}.drainNewWindows;
    port->DrainReceived();
    EXPECT_EQ(host.windows.size(), size_t(perDrain)) << "the rest waits for the next tick";
    EXPECT_EQ(port->frameCount(), perDrain);
    port->DrainReceived();
    port->DrainReceived();
    ASSERT_EQ(host.windows.size(), 10u);
    for (size_t i = 0; i < host.windows.size(); ++i)
        EXPECT_EQ(host.windows[i]->info.streamKey, int32_t(i + 1));
    EXPECT_EQ(port->frameCount(), 11) << "nothing lost";
}
