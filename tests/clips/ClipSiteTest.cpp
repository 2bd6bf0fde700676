// An answered call from the simulated site, end to end: every channel window
// the connection creates records from its first frame and opens one snapshot
// (the posted Record and Snapshot commands); the call ends, the clips are
// completed and filed; then each clip is found in the browser, previewed,
// played to its end at two frames per second and deleted with its files.
//
// The channel window here is a minimal stand-in that wires the connection's
// window interface to the recorder and the still viewer, as the live window
// does.
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipNames.h"
#include "clips/core/ClipRecorder.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "clips/ui/ClipListWidget.h"
#include "link/CodecDecompressorFactory.h"
#include "link/CommPort.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "res/StringTable.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"
#include "tools/sitesim/SiteSimProcess.h"
#include "video/ui/PlayerBar.h"
#include "video/ui/PlayerWindow.h"
#include "video/ui/StillViewer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>

namespace {

using namespace std::chrono_literals;

struct Shared {
    ClipIndex* index = nullptr;
    ChannelTable* channels = nullptr;
    DialogService* dialogs = nullptr;
    std::string folder;
};

struct WindowState {
    int32_t channel = 0;
    std::vector<uint8_t> firstFrame;
    int delivered = 0;
    // The picture on screen when Record ran, and how many frames had arrived by then.
    std::vector<uint8_t> shownAtRecord;
    int deliveredAtRecord = 0;
    std::string videoName;
    int recorded = 0;
    std::vector<CommandId> commands;
    QPointer<StillViewer> snapshot;
    bool closed = false;
};

class RecordingWindow final : public ChannelWindowHandle {
public:
    RecordingWindow(Shared& shared, std::shared_ptr<WindowState> state)
        : m_shared(shared)
        , m_state(std::move(state))
        , m_buffer(230400, 0)
        , m_recorder(*shared.index, {[&shared] { return shared.folder; }, {}, {}, {}, {}}) {}

    void setStreamFormat(const BitmapInfoHeader& header) override { m_format = header; }
    void sizeForPicture(int, int) override {}
    void moveOnTop(QPoint) override {}
    void setCell(const QRect&) override {}
    void applyBars(bool) override {}
    bool isRecording() const override { return m_recorder.recording(); }
    void RecordFrame(std::span<const uint8_t> frame) override {
        m_recorder.RecordFrame(frame);
        ++m_state->recorded;
    }
    void deliverFrame(std::span<const uint8_t> frame) override {
        if (m_state->firstFrame.empty())
            m_state->firstFrame.assign(frame.begin(), frame.end());
        ++m_state->delivered;
        std::copy_n(frame.begin(), std::min(frame.size(), m_buffer.size()), m_buffer.begin());
    }
    void draw(std::span<const uint8_t> picture) override { m_picture.assign(picture.begin(), picture.end()); }
    void markClosedBySite() override {}
    void onPostedCommand(CommandId command) override {
        m_state->commands.push_back(command);
        if (command == CommandId::ChannelRecord && !m_recorder.recording()) {
            const auto shown = PackedDibView(m_buffer).whole();
            m_state->shownAtRecord.assign(shown.begin(), shown.end());
            m_state->deliveredAtRecord = m_state->delivered;
            if (m_recorder.recordCommand(m_state->channel, m_format, m_buffer)) {
                ++m_state->recorded;
                m_state->videoName = m_recorder.videoFileName();
            }
        } else if (command == CommandId::ChannelSnapshot) {
            // As the channel window does: the picture on screen, never a new decode.
            m_state->snapshot = StillViewer::showSnapshotAsIs(
                m_picture.empty() ? std::span<const uint8_t>(m_buffer) : std::span<const uint8_t>(m_picture),
                m_state->channel, m_shared.channels->GetChannelName(m_state->channel), nullptr,
                *m_shared.dialogs);
        }
    }
    void close() override {
        m_recorder.StopRecording();
        m_state->closed = true;
    }

private:
    Shared& m_shared;
    std::shared_ptr<WindowState> m_state;
    std::vector<uint8_t> m_buffer;
    BitmapInfoHeader m_format;
    std::vector<uint8_t> m_picture; // the last decoded picture
    ClipRecorder m_recorder;
};

class Host final : public MainWindowCommands, public ViewArea, public StatusLine, public ConnectionStore {
public:
    explicit Host(Shared& shared)
        : m_shared(shared) {}
    std::vector<std::shared_ptr<WindowState>> windows;
    int alarms = 0;

    QSize clientSize() const override { return {1000, 700}; }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        windows.push_back(std::make_shared<WindowState>());
        windows.back()->channel = info.channel;
        return std::make_unique<RecordingWindow>(m_shared, windows.back());
    }
    void onPostedCommand(CommandId) override {}
    bool isMaximized() const override { return true; }
    void maximize() override {}
    bool barsShown() const override { return true; }
    void startAlarm() override { ++alarms; }
    void SetStatusText(const QString&) override {}
    LoginValues loginValues() const override { return {"op", "pw", 1, 50}; }
    bool videoArrangeOn() const override { return false; }
    bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>&) override { return true; }

private:
    Shared& m_shared;
};

TEST(ClipSite, AnAnsweredCallRecordsEveryChannelAndTheClipsAreBrowsedPlayedAndDeleted) {
    TempDir dir("clip-site");
    SiteSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start(dir.path(),
                          {"--data-only", "--incoming", "--channel", "1:Gate,codec=mjpg,fps=5", "--channel",
                           "2:Yard,codec=mjpg,fps=5"},
                          error))
        << error;

    RegistryStore store(dir.file("user.sqlite"));
    ChannelTable channels;
    ClipIndex index(store, channels);
    ScriptedDialogService dialogs;
    Shared shared{&index, &channels, &dialogs, dir.path() + "/"};
    Host host(shared);
    CodecDecompressorFactory codecs;
    CommPortOptions options;
    options.timerPeriod = 20ms;
    {
        CommPort port(dialogs, host, channels, codecs, options);
        port.attachMainWindow(&host, &host, &host);
        const int fd = ::open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(port.Start(fd, true));
        const auto enough = [&] {
            return host.windows.size() == 2 && host.windows[0]->recorded >= 5 &&
                   host.windows[1]->recorded >= 5;
        };
        QElapsedTimer clock;
        clock.start();
        while (!enough() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_TRUE(enough());
        port.Stop(); // closes every window: recordings end and are filed
    }
    EXPECT_EQ(host.alarms, 2);

    std::map<int32_t, std::shared_ptr<WindowState>> byChannel;
    for (const auto& w : host.windows) {
        byChannel[w->channel] = w;
        EXPECT_TRUE(w->closed);
        EXPECT_EQ(w->commands,
                  (std::vector<CommandId>{CommandId::ChannelRecord, CommandId::ChannelSnapshot}));
        ASSERT_FALSE(w->snapshot.isNull()) << "one snapshot per window";
        EXPECT_TRUE(w->snapshot->decoded());
        EXPECT_EQ(w->snapshot->size(), QSize(320, 240));
        // The clip begins with the picture on screen when the posted Record
        // ran: the first frame, unless more frames of the same timer tick
        // were routed before the command was delivered.
        EXPECT_EQ(cliptest::readFile(shared.folder + imageNameFor(w->videoName)), w->shownAtRecord);
        if (w->deliveredAtRecord == 1) {
            EXPECT_EQ(w->shownAtRecord, w->firstFrame);
        }
        auto probed = cliptest::probe(shared.folder + w->videoName);
        EXPECT_EQ(probed["nb_read_packets"], std::to_string(w->recorded));
        EXPECT_EQ(probed["r_frame_rate"], "2/1");
        delete w->snapshot.data();
    }
    ASSERT_EQ(byChannel.size(), 2u);

    auto steady = std::chrono::steady_clock::time_point(std::chrono::hours(1));
    index.catalogNow(); // read at start-up
    ClipBrowserDialog browser(index, dialogs, nullptr, [&] { return steady; });
    ASSERT_EQ(browser.tree()->topLevelItemCount(), 2);
    ASSERT_TRUE(browser.selectNode("0001 Gate"));
    ASSERT_EQ(browser.list()->topLevelItemCount(), 1);
    EXPECT_EQ(browser.countTexts(), "     1|     0|     1");
    browser.list()->topLevelItem(0)->setSelected(true);
    EXPECT_EQ(browser.previewFrame()->picture().size(), QSize(320, 240));

    browser.play();
    auto* player = browser.findChild<PlayerWindow*>();
    ASSERT_NE(player, nullptr);
    const int frames = byChannel[1]->recorded;
    EXPECT_EQ(player->totalFrames(), frames);
    EXPECT_EQ(player->bar()->rateLabel()->text(), "FPS: 2.0");
    for (int tick = 0; tick < 5 * frames + 10 && player->state() == PlayState::Running; ++tick) {
        steady += 200ms;
        player->playbackTick();
    }
    EXPECT_EQ(player->state(), PlayState::Stopped);
    const QString seconds = QString::number(frames / 2.0, 'f', 1);
    EXPECT_EQ(player->infoText(),
              QStringLiteral("Total: %1/%1 Frame  --   %2/%2 Sec").arg(frames).arg(seconds));

    dialogs.setNextAnswer(MessageAnswer::Ok);
    browser.list()->topLevelItem(0)->setSelected(true);
    browser.deleteSelected();
    EXPECT_FALSE(std::filesystem::exists(shared.folder + byChannel[1]->videoName));
    EXPECT_FALSE(std::filesystem::exists(shared.folder + imageNameFor(byChannel[1]->videoName)));
    std::vector<ClipRecord> left;
    index.LoadClipRecords(left);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Location, "Yard");
    EXPECT_EQ(dialogs.shownTexts(), QStringList{loadString(IDP_DELETE_SELECTED)})
        << "nothing but the question";
}

} // namespace
