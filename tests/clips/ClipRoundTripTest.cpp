// A recorded clip through its whole life: recorded from a channel's frame
// buffer and later frames, found in the browser under its channel, previewed
// from its image file, played to its end at two frames per second, and
// deleted with its files.
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "clips/core/ClipNames.h"
#include "clips/core/ClipRecorder.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "clips/ui/ClipListWidget.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "platform/registry/RegistryStore.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"
#include "video/ui/PlayerBar.h"
#include "video/ui/PlayerWindow.h"

#include <QSlider>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace std::chrono_literals;

TEST(ClipRoundTrip, RecordedClipIsBrowsedPreviewedPlayedAndDeleted) {
    TempDir dir;
    RegistryStore store(dir.file("user.sqlite"));
    ChannelTable channels;
    channels.replace({{2, "Gate"}, {4, "Dock"}});
    ClipIndex index(store, channels);
    ScriptedDialogService dialogs;
    const std::string folder = dir.path() + "/";
    std::time_t now = 1'000'000'000;
    auto steady = std::chrono::steady_clock::time_point(std::chrono::hours(1));

    const auto frames = cliptest::jpegFrames(dir.path(), 6, 64, 48);
    ASSERT_EQ(frames.size(), 6u);
    std::string gateName, dockName;
    std::vector<uint8_t> buffer(230400, 0);
    std::copy(frames[0].begin(), frames[0].end(), buffer.begin());
    {
        // Two channels record at once; channel 2 from the picture on screen.
        ClipRecorder::Environment env{[&] { return folder; }, [&] { return now; }, {}, {}, {}};
        ClipRecorder gate(index, env), dock(index, env);
        const BitmapInfoHeader format = *BitmapInfoHeader::parse(frames[0]);
        ASSERT_TRUE(gate.recordCommand(2, format, buffer));
        ASSERT_TRUE(dock.recordCommand(4, format, buffer));
        gateName = gate.videoFileName();
        dockName = dock.videoFileName();
        for (size_t i = 1; i < frames.size(); ++i) {
            gate.RecordFrame(frames[i]);
            if (i % 2)
                dock.RecordFrame(frames[i]);
        }
        now += 3;
    } // the windows close: both clips are completed and their records written

    auto probed = cliptest::probe(folder + gateName);
    EXPECT_EQ(probed["nb_read_packets"], "6");
    EXPECT_EQ(probed["r_frame_rate"], "2/1");
    EXPECT_EQ(probed["codec_tag_string"], "MJPG");
    EXPECT_EQ(cliptest::probe(folder + dockName)["nb_read_packets"], "4");

    index.catalogNow(); // read at start-up
    auto browser = std::make_unique<ClipBrowserDialog>(index, dialogs, nullptr, [&] { return steady; });
    ASSERT_EQ(browser->tree()->topLevelItemCount(), 2);
    ASSERT_TRUE(browser->selectNode("0002 Gate"));
    ClipListWidget* list = browser->list();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(browser->countTexts(), "     1|     0|     1");
    list->topLevelItem(0)->setSelected(true);
    const QImage preview = browser->previewFrame()->picture();
    ASSERT_EQ(preview.size(), QSize(64, 48));
    const QColor c = preview.pixelColor(32, 24);
    EXPECT_TRUE(cliptest::near({uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())},
                               cliptest::frameColour(0), 24));

    browser->play();
    EXPECT_EQ(browser->countTexts(), "     1|     1|     0");
    auto* player = browser->findChild<PlayerWindow*>();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->state(), PlayState::Running);
    EXPECT_EQ(player->totalFrames(), 6);
    for (int tick = 0; tick < 16 && player->state() == PlayState::Running; ++tick) {
        steady += 200ms;
        player->playbackTick();
    }
    EXPECT_EQ(player->state(), PlayState::Stopped);
    EXPECT_EQ(player->infoText(), "Total: 6/6 Frame  --   3.0/3.0 Sec");
    EXPECT_EQ(player->bar()->positionSlider()->value(), 6);
    EXPECT_TRUE(dialogs.shown().empty());

    dialogs.setNextAnswer(MessageAnswer::Ok);
    list->topLevelItem(0)->setSelected(true);
    browser->deleteSelected();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(folder + gateName));
    EXPECT_FALSE(std::filesystem::exists(folder + imageNameFor(gateName)));
    EXPECT_TRUE(std::filesystem::exists(folder + imageNameFor(dockName)));
    std::vector<ClipRecord> left;
    index.LoadClipRecords(left);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Channel, 4);
}

} // namespace
