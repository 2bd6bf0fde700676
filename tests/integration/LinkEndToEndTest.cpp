// The connection against the simulated site in data-only mode: log in, answer
// the channel prompt by opening every channel, and receive decoded pictures of
// every codec the site sends.
#include "app/core/ChannelTable.h"
#include "link/ChannelChoice.h"
#include "link/CodecDecompressorFactory.h"
#include "link/CommPort.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "tests/link/LinkDoubles.h"
#include "tests/support/TempDir.h"
#include "tools/sitesim/SiteSimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <fcntl.h>

using namespace std::chrono_literals;

namespace {

// The main window's part in opening channels: on the site's prompt, open
// every channel of the choice list, as an operator picking each in turn would.
class OpeningHost final : public MainWindowCommands {
public:
    OpeningHost(FakeHost& host, CommPort*& port)
        : m_host(host)
        , m_port(port) {}
    void onPostedCommand(CommandId command) override {
        m_host.commands.push_back(command);
        if (command == CommandId::OpenChannel && m_port->canOpenChannel()) {
            for (const QString& line : m_port->channelChoiceLines())
                m_port->requestOpenChannel(channelFromChoice(line));
        }
    }
    bool isMaximized() const override { return true; }
    void maximize() override {}
    bool barsShown() const override { return true; }
    void startAlarm() override {}

private:
    FakeHost& m_host;
    CommPort*& m_port;
};

// A drawable picture as the decompressor yields it: 24-bit uncompressed, of the stream's size.
bool isDecodedPicture(const std::vector<uint8_t>& image, int width, int height) {
    const PackedDibView view(image);
    return view.valid() && view.header().biCompression == BitmapInfoHeader::kRgb &&
           view.header().biBitCount == 24 && view.header().biWidth == width &&
           std::abs(view.header().biHeight) == height;
}

} // namespace

TEST(LinkEndToEnd, LogsInOpensEveryChannelAndShowsDecodedFramesOfEveryCodec) {
    TempDir dir("link-e2e");
    SiteSimProcess sim;
    std::string error;
    ASSERT_TRUE(
        sim.start(dir.path(),
                  {"--data-only", "--user", "op", "--password", "pw", "--permissions", "3", "--channel",
                   "1:Gate,codec=mjpg,fps=10", "--channel", "2:Yard,codec=cvid,fps=10", "--channel",
                   "3:Dock,codec=msvc,fps=10", "--channel", "4:Hall,codec=rgb,fps=10,size=160x120"},
                  error))
        << error;

    ScriptedDialogService dialogs;
    FakeHost host;
    host.login = {"op", "pw", 1, 50};
    ChannelTable channels;
    CodecDecompressorFactory codecs;
    CommPortOptions options;
    options.timerPeriod = 20ms;
    CommPort port(dialogs, host, channels, codecs, options);
    CommPort* portRef = &port;
    OpeningHost main(host, portRef);
    port.attachMainWindow(&main, &host, &host);

    const int fd = ::open(sim.linkPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(port.Start(fd, false));

    // Uncompressed 320 x 240 pictures would not fit a packet; that channel is smaller.
    auto decodedWindows = [&] {
        int n = 0;
        for (const auto& w : host.windows)
            n += w->drawn.size() >= 2 &&
                 isDecodedPicture(w->drawn.back(), w->geometry.width(), w->geometry.height());
        return n;
    };
    QElapsedTimer clock;
    clock.start();
    while (decodedWindows() < 4 && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    EXPECT_EQ(port.channelChoiceLines(), QStringList({"0001 Gate", "0002 Yard", "0003 Dock", "0004 Hall"}));
    EXPECT_EQ(host.commands, std::vector<CommandId>{CommandId::OpenChannel});
    ASSERT_EQ(host.windows.size(), 4u);
    EXPECT_EQ(decodedWindows(), 4) << "every codec decodes";
    for (const auto& w : host.windows) {
        EXPECT_EQ(w->info.streamKey, 1000 + w->info.channel);
        EXPECT_TRUE(w->info.mayClose);
    }
    EXPECT_GE(port.frameCount(), 8);
    EXPECT_TRUE(host.status.last().startsWith("Connect:  "));

    port.Stop();
    EXPECT_EQ(host.status.last(), "Disconnect");
    for (const auto& w : host.windows)
        EXPECT_TRUE(w->closed);
}
