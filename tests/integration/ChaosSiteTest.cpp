// A call from a site that behaves as a bad peer: the simulated site mixes
// garbage, damaged, oversized, lying, truncated and unknown packets into its
// video. The connection, the real channel windows (drawing and recording what
// arrives) and the application store must come through it: no crash, every
// channel keeps showing decoded pictures, the store changes only by the site
// records the site really sent, and the call still hangs up cleanly.
// DIALSCOPE_CHAOS_SEED and DIALSCOPE_CHAOS_RATE replace the seed and the
// share of harmed frames, for soak runs (a high rate starves the pictures).
#include "app/core/RegistryLayout.h"
#include "connect/AppConnectionStore.h"
#include "link/CodecDecompressorFactory.h"
#include "link/CommPort.h"
#include "tests/app/TempAppStore.h"
#include "tests/video/LiveWindowDoubles.h"
#include "tools/sitesim/SiteSimProcess.h"
#include "video/ui/ChannelWindow.h"
#include "video/ui/VideoViewArea.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <set>

using namespace std::chrono_literals;

namespace {

struct Picture {
    int width;
    int height;
};

// Decoded pictures each stream showed, with the time each arrived.
struct StreamStats {
    int32_t streamKey = 0;
    std::vector<qint64> decodedAt;
    int raw = 0;
};

// A real channel window, counting the decoded pictures of its stream's true
// size that it is asked to draw (a hostile frame may decode to anything).
class CountingWindow final : public ChannelWindowHandle {
public:
    CountingWindow(std::unique_ptr<ChannelWindowHandle> window, std::shared_ptr<StreamStats> stats,
                   Picture picture, const QElapsedTimer& clock)
        : m_window(std::move(window))
        , m_stats(std::move(stats))
        , m_picture(picture)
        , m_clock(clock) {}

    void setStreamFormat(const BitmapInfoHeader& h) override { m_window->setStreamFormat(h); }
    void sizeForPicture(int w, int h) override { m_window->sizeForPicture(w, h); }
    void moveOnTop(QPoint p) override { m_window->moveOnTop(p); }
    void setCell(const QRect& cell) override { m_window->setCell(cell); }
    void applyBars(bool shown) override { m_window->applyBars(shown); }
    bool isRecording() const override { return m_window->isRecording(); }
    void RecordFrame(std::span<const uint8_t> frame) override { m_window->RecordFrame(frame); }
    void deliverFrame(std::span<const uint8_t> frame) override { m_window->deliverFrame(frame); }
    void draw(std::span<const uint8_t> image) override {
        const PackedDibView view(image);
        if (view.valid() && view.header().biCompression == BitmapInfoHeader::kRgb &&
            view.header().biBitCount == 24 && view.header().biWidth == m_picture.width &&
            std::abs(view.header().biHeight) == m_picture.height)
            m_stats->decodedAt.push_back(m_clock.elapsed());
        else
            ++m_stats->raw;
        m_window->draw(image);
    }
    void markClosedBySite() override { m_window->markClosedBySite(); }
    void onPostedCommand(CommandId command) override { m_window->onPostedCommand(command); }
    void close() override { m_window->close(); }

private:
    std::unique_ptr<ChannelWindowHandle> m_window;
    std::shared_ptr<StreamStats> m_stats;
    Picture m_picture;
    const QElapsedTimer& m_clock;
};

// The main window: the real view area with counting windows, and a status
// line and command sink that record what reached them.
class ChaosMainWindow final : public MainWindowCommands, public ViewArea, public StatusLine {
public:
    ChaosMainWindow(VideoViewArea& area, std::map<int32_t, Picture> pictures, const QElapsedTimer& clock)
        : m_area(area)
        , m_pictures(std::move(pictures))
        , m_clock(clock) {}

    std::vector<std::shared_ptr<StreamStats>> streams;
    std::vector<CommandId> commands;
    QStringList status;
    int alarms = 0;

    QSize clientSize() const override { return m_area.clientSize(); }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        auto window = m_area.CreateChannelWindow(info);
        if (!window)
            return nullptr;
        streams.push_back(std::make_shared<StreamStats>());
        streams.back()->streamKey = info.streamKey;
        const auto picture = m_pictures.find(info.streamKey);
        return std::make_unique<CountingWindow>(
            std::move(window), streams.back(),
            picture == m_pictures.end() ? Picture{-1, -1} : picture->second, m_clock);
    }
    void onPostedCommand(CommandId command) override { commands.push_back(command); }
    bool isMaximized() const override { return true; }
    void maximize() override {}
    bool barsShown() const override { return true; }
    void startAlarm() override { ++alarms; }
    void SetStatusText(const QString& text) override { status.append(text); }

private:
    VideoViewArea& m_area;
    std::map<int32_t, Picture> m_pictures;
    const QElapsedTimer& m_clock;
};

// Every key and value under `key`, one line each, for comparing whole stores.
void dump(const RegistryKey& key, const std::string& path, std::set<std::string>& out) {
    for (const NamedValue& v : key.values())
        out.insert(path + " : " + v.name + " = " + std::to_string(int(v.value.type)) + ":" + v.value.data);
    for (uint32_t i = 0, n = key.subkeyCount().value_or(0); i < n; ++i) {
        const std::string name = key.subkeyName(i).value_or("?");
        out.insert(path + "\\" + name);
        dump(key.openSubkey(name), path + "\\" + name, out);
    }
}

std::set<std::string> dumpStore(const std::string& file) {
    RegistryStore store(file);
    std::set<std::string> lines;
    dump(store.openKey("software"), "software", lines);
    return lines;
}

int countLogged(const SiteSimProcess& sim, const char* event, const char* name) {
    int n = 0;
    for (const std::string& line : sim.logLines()) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        n += o["event"].toString() == event && o["name"].toString() == name;
    }
    return n;
}

} // namespace

TEST(ChaosSite, AnsweredCallSurvivesABadPeerAndHangsUpCleanly) {
    // The site record comes on the answer's request and then three more
    // times, 2.5 s apart, unasked.
    const char* seed = std::getenv("DIALSCOPE_CHAOS_SEED");
    const char* rate = std::getenv("DIALSCOPE_CHAOS_RATE");
    const std::vector<std::string> args = {
        "--data-only", "--incoming", std::string("--chaos=") + (seed ? seed : "20240229"), "--chaos-rate",
        rate ? rate : "0.35", "--site-name", "Quarry", "--site-tel", "555-0199", "--site-memo", "Fence",
        // Four codecs, one of them uncompressed.
        "--channel", "1:Gate,codec=mjpg,fps=6", "--channel", "2:Yard,codec=cvid,fps=6", "--channel",
        "3:Dock,codec=msvc,fps=6", "--channel", "4:Hall,codec=rgb,fps=6,size=160x120",
        // Three more site records and the channel list again while the damage flows.
        "--on-login", "2500:event site-info", "--on-login", "5000:event site-info", "--on-login",
        "7500:event site-info", "--on-login", "4000:event channel-list"};
    TempDir dir("chaos-e2e");
    SiteSimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start(dir.path(), args, error)) << error;

    TempAppStore temp;
    CallSettings call;
    call.user = "watch";
    call.password = "secret";
    ASSERT_TRUE(temp.store().saveCallSettings(call));
    temp.store().SetSetting(AppStore::kVideoArrange, 1);
    const std::string userFile = temp.dir().file("user.sqlite");
    const std::set<std::string> before = dumpStore(userFile);

    QElapsedTimer clock;
    clock.start();
    FakeChannelWindowContext context; // records into its own temporary folder
    VideoViewArea area(context);
    area.resize(1000, 700);
    area.show();
    ChaosMainWindow main(
        area, {{1001, {320, 240}}, {1002, {320, 240}}, {1003, {320, 240}}, {1004, {160, 120}}}, clock);
    AppConnectionStore connectionStore(temp.store());
    ScriptedDialogService dialogs;
    CodecDecompressorFactory codecs;
    CommPortOptions options;
    options.timerPeriod = 40ms;
    options.stopBound = 3000ms;
    CommPort port(dialogs, connectionStore, context.channels, codecs, options);
    context.port = &port;
    port.attachMainWindow(&main, &main, &main);

    const int fd = ::open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(port.Start(fd, true));
    constexpr qint64 kRunMs = 12000;
    while (clock.elapsed() < kRunMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);

    // The site really was hostile, in every way, and the connection took it.
    const std::string status = sim.command("status");
    for (const char* kind : {"garbage", "header-flip", "body-flip", "oversized", "lying-length", "truncated",
                             "bad-image-size", "unknown-type", "burst"})
        EXPECT_EQ(status.find(std::string("\"") + kind + "\":0"), std::string::npos)
            << kind << " in " << status;
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(main.status.contains("Stream error!")) << "unknown packet types were noticed";
    EXPECT_TRUE(main.commands.empty()) << "no damage may pose as a prompt, a rejection or a hang-up";

    // One window per stream, each kept showing decoded pictures until the end.
    ASSERT_EQ(main.streams.size(), 4u);
    for (const auto& s : main.streams) {
        SCOPED_TRACE("stream " + std::to_string(s->streamKey));
        EXPECT_GE(s->decodedAt.size(), 15u);
        EXPECT_TRUE(std::any_of(s->decodedAt.begin(), s->decodedAt.end(), [](qint64 t) {
            return t > kRunMs - 3000;
        })) << "still updating in the last seconds";
    }
    ASSERT_EQ(area.channelWindows().size(), 4);
    for (ChannelWindow* window : area.channelWindows())
        EXPECT_TRUE(window->isRecording()) << "an answered call records every channel";
    EXPECT_EQ(context.channels.GetChannelName(3), "Dock");

    // Hanging up ends the recordings and closes every window.
    port.Stop();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(main.status.last(), "Disconnect");
    QApplication::processEvents();
    EXPECT_TRUE(area.channelWindows().isEmpty());
    std::vector<ClipRecord> clips;
    context.clips.LoadClipRecords(clips);
    EXPECT_EQ(clips.size(), 4u) << "one finished clip per channel";

    // The store gained the one site record the answer asked for, and
    // nothing else: the three the site sent unasked are ignored.
    const int sent = countLogged(sim, "sent", "SiteInfo");
    EXPECT_EQ(sent, 4);
    std::vector<EventRecord> events;
    temp.store().LoadEventRecords(events);
    ASSERT_EQ(events.size(), 1u);
    for (const EventRecord& e : events) {
        EXPECT_EQ(e.text(EventRecord::kName), "Quarry");
        EXPECT_EQ(e.text(EventRecord::kTel), "555-0199");
        EXPECT_EQ(e.text(EventRecord::kMemo), "Fence");
    }
    const std::set<std::string> after = dumpStore(userFile);
    for (const std::string& line : before)
        EXPECT_TRUE(after.count(line)) << "lost: " << line;
    for (const std::string& line : after)
        if (!before.count(line)) {
            EXPECT_EQ(line.rfind(RegistryLayout::kEventStore, 0), 0u) << "unexpected: " << line;
        }
}
