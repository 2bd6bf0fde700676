#include "video/ui/PlayerWindow.h"
#include "platform/dialogs/ScriptedDialogService.h"
#include "res/StringTable.h"
#include "tests/avi/ClipTestTools.h"
#include "tests/support/TempDir.h"
#include "video/core/PlayerTables.h"
#include "video/ui/PlayerBar.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QToolBar>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

struct ManualClock {
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    MediaPlayer::Clock function() {
        return [this] {
            return now;
        };
    }
};

void deliverPostedEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class PlayerWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < 9; ++i)
            frames.push_back(cliptest::rawFrame(32, 24, i));
        m_record.FileName = "200107151409330002.avi";
        m_record.Channel = 2;
        m_record.Location = "G\xE4te"; // a Latin-1 channel name, as the site sent it
        m_record.SDate = "2001/07/15";
        m_record.STime = "14:09";
        m_record.EDate = "2001/07/15";
        m_record.ETime = "14:10";
        m_record.ImageName = "200107151409330002.img";
        m_record.Path = m_dir.path() + "/";
        ASSERT_TRUE(cliptest::writeClip(m_record.Path + m_record.FileName, frames));
        m_player = new PlayerWindow(&m_owner, m_dialogs, m_clock.function());
    }

    // Moves the clock and runs one tick of the playback timer.
    void advance(std::chrono::milliseconds by) {
        m_clock.now += by;
        m_player->playbackTick();
    }

    TempDir m_dir;
    ScriptedDialogService m_dialogs;
    ManualClock m_clock;
    QWidget m_owner;
    ClipRecord m_record;
    QPointer<PlayerWindow> m_player;
};

TEST_F(PlayerWindowTest, AClipThatCannotBeOpenedIsReportedAndThePlayerCloses) {
    ClipRecord missing = m_record;
    missing.FileName = "gone.avi";
    EXPECT_FALSE(m_player->Open(missing));
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_OPEN_FILE_ERROR)});
    EXPECT_EQ(m_player->windowTitle(), "gone.avi        0K");
    EXPECT_FALSE(m_player->bar()->isEnabled());
    deliverPostedEvents();
    EXPECT_TRUE(m_player.isNull());
}

TEST_F(PlayerWindowTest, OpeningShowsTheClipAndPlaysIt) {
    EXPECT_EQ(m_player->windowTitle(), loadString(IDS_VIDEO_CLIPS));
    EXPECT_FALSE(m_player->bar()->isEnabled());
    ASSERT_TRUE(m_player->Open(m_record));
    EXPECT_TRUE(m_player->isVisible());
    EXPECT_TRUE(m_player->windowTitle().startsWith("200107151409330002.avi "));
    EXPECT_TRUE(m_player->windowTitle().endsWith("K"));
    EXPECT_EQ(m_player->headerTexts(), (QStringList{QStringLiteral("0002 G\u00E4te"),
                                                    "Start:2001/07/15[14:09]  -  Ending:2001/07/15[14:10]"}));
    EXPECT_EQ(m_player->state(), PlayState::Running);
    EXPECT_TRUE(m_player->playbackTimerActive());
    EXPECT_TRUE(m_player->bar()->isEnabled());
    EXPECT_EQ(m_player->bar()->rateLabel()->text(), "FPS: 2.0");
    EXPECT_EQ(m_player->bar()->speedLabel()->text(), "x1");
    EXPECT_EQ(m_player->bar()->positionSlider()->maximum(), 9);
    EXPECT_EQ(m_player->bar()->speedSlider()->value(), 5);
    EXPECT_EQ(m_player->totalFrames(), 9);
    EXPECT_EQ(m_player->videoRect().size(), QSize(352, 288));
    EXPECT_NEAR(m_player->videoRect().left() + 176, m_player->width() / 2.0, 1);
    EXPECT_EQ(m_player->action(CommandId::PlayerFirstFrame)->statusTip(), "Frist frame");
    EXPECT_EQ(m_player->action(CommandId::PlayerFirstFrame)->toolTip(), "Go top");
    EXPECT_EQ(m_player->toolBar()->actions().size(), 13); // ten buttons, three separators
}

TEST_F(PlayerWindowTest, PlaysToTheEndAtTwoFramesPerSecondThenStopsAndPlayRestarts) {
    ASSERT_TRUE(m_player->Open(m_record));
    advance(1s);
    EXPECT_EQ(m_player->currentFrame(), 2);
    EXPECT_EQ(m_player->bar()->positionSlider()->value(), 2);
    advance(3s);
    EXPECT_EQ(m_player->state(), PlayState::Running);
    advance(500ms);
    advance(200ms);
    EXPECT_EQ(m_player->state(), PlayState::Stopped);
    EXPECT_FALSE(m_player->playbackTimerActive());
    EXPECT_EQ(m_player->infoText(), "Total: 9/9 Frame  --   4.5/4.5 Sec");

    m_player->command(CommandId::PlayerPlay);
    EXPECT_EQ(m_player->state(), PlayState::Running);
    EXPECT_EQ(m_player->currentFrame(), 0);
    advance(1s);
    EXPECT_EQ(m_player->currentFrame(), 2);
}

TEST_F(PlayerWindowTest, StepCommandsPauseAndStayWithinTheClip) {
    ASSERT_TRUE(m_player->Open(m_record));
    advance(1s);
    m_player->command(CommandId::PlayerRewind);
    EXPECT_EQ(m_player->state(), PlayState::Paused);
    EXPECT_FALSE(m_player->playbackTimerActive());
    EXPECT_EQ(m_player->currentFrame(), 1);
    m_player->command(CommandId::PlayerFirstFrame);
    EXPECT_EQ(m_player->currentFrame(), 0);
    m_player->command(CommandId::PlayerRewind);
    EXPECT_EQ(m_player->currentFrame(), 0);
    m_player->command(CommandId::PlayerForward);
    EXPECT_EQ(m_player->currentFrame(), 1);
    EXPECT_EQ(m_player->infoText(), "Total: 1/9 Frame  --   0.5/4.5 Sec");
    m_player->command(CommandId::PlayerLastFrame);
    EXPECT_EQ(m_player->currentFrame(), 9);
    m_player->command(CommandId::PlayerForward);
    EXPECT_EQ(m_player->currentFrame(), 9);
    m_player->command(CommandId::PlayerRewind);
    EXPECT_EQ(m_player->currentFrame(), 8);

    m_player->command(CommandId::PlayerPlay);
    EXPECT_TRUE(m_player->playbackTimerActive());
    m_player->command(CommandId::PlayerStop);
    EXPECT_EQ(m_player->state(), PlayState::Stopped);
    EXPECT_FALSE(m_player->playbackTimerActive());
    EXPECT_EQ(m_player->currentFrame(), 8); // stop keeps the position
    m_player->command(CommandId::PlayerPause);
    EXPECT_EQ(m_player->state(), PlayState::Paused);
}

TEST_F(PlayerWindowTest, CommandsWithoutAClipDoNothing) {
    for (int id = commandNumber(CommandId::PlayerPlay); id <= commandNumber(CommandId::PlayerSnapshot); ++id)
        m_player->command(CommandId(id));
    m_player->positionScroll(player::ThumbTrack, 3);
    EXPECT_EQ(m_player->state(), PlayState::None);
    EXPECT_EQ(m_dialogs.fileDialogCount(), 0);
    EXPECT_EQ(m_player->sizeIndex(), 3); // Increase then Decrease
}

TEST_F(PlayerWindowTest, SizesChangeWithinTheTableAndKeepTheTopLeftCorner) {
    ASSERT_TRUE(m_player->Open(m_record));
    m_player->move(40, 30);
    const QPoint corner = m_player->pos();
    const int extraHeight = m_player->height() - 288;
    m_player->command(CommandId::PlayerIncrease);
    EXPECT_EQ(m_player->videoRect().size(), QSize(480, 360));
    EXPECT_EQ(m_player->height(), 360 + extraHeight);
    const QSize largest = m_player->size();
    m_player->command(CommandId::PlayerIncrease);
    EXPECT_EQ(m_player->sizeIndex(), 4);
    EXPECT_EQ(m_player->size(), largest);
    for (int i = 0; i < 5; ++i)
        m_player->command(CommandId::PlayerDecrease);
    EXPECT_EQ(m_player->sizeIndex(), 0);
    EXPECT_EQ(m_player->videoRect().size(), QSize(160, 120));
    EXPECT_EQ(m_player->height(), 120 + extraHeight);
    EXPECT_GE(m_player->width(), m_player->toolBar()->sizeHint().width());
    EXPECT_EQ(m_player->pos(), corner);
    EXPECT_EQ(m_player->state(), PlayState::Running) << "resizing does not pause";
}

TEST_F(PlayerWindowTest, SpeedSliderStepsAndThumbWithinTwentySpeeds) {
    ASSERT_TRUE(m_player->Open(m_record));
    QSlider* speed = m_player->bar()->speedSlider();
    speed->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(m_player->speedIndex(), 4);
    EXPECT_EQ(m_player->bar()->speedLabel()->text(), "/2");
    EXPECT_EQ(m_player->rate(), 0.8);
    for (int i = 0; i < 6; ++i)
        m_player->speedScroll(player::PageUp, 0);
    EXPECT_EQ(m_player->speedIndex(), 0);
    m_player->speedScroll(player::LineUp, 0);
    EXPECT_EQ(m_player->speedIndex(), 0);
    EXPECT_EQ(m_player->bar()->speedLabel()->text(), "/10");
    EXPECT_EQ(m_player->rate(), 0.1);
    EXPECT_EQ(speed->sliderPosition(), 0);

    advance(10s); // a tenth of normal speed: two frames in ten seconds
    EXPECT_EQ(m_player->currentFrame(), 2);
    EXPECT_EQ(m_player->bar()->rateLabel()->text(), "FPS: 2.0") << "the clip's own rate, not the speed";

    m_player->speedScroll(player::ThumbTrack, 19);
    EXPECT_EQ(m_player->bar()->speedLabel()->text(), "x50");
    m_player->speedScroll(player::LineDown, 0);
    EXPECT_EQ(m_player->speedIndex(), 19);
    m_player->speedScroll(player::ThumbPosition, 25);
    EXPECT_EQ(m_player->speedIndex(), 5);
    EXPECT_EQ(m_player->rate(), 1.0);
    speed->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(m_player->speedIndex(), 6);
    EXPECT_EQ(speed->value(), 6);

    // The keys: Up and PageUp lower the index, Down and PageDown raise it,
    // Home and End move speed, slider and label together.
    const auto press = [speed](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(speed, &event);
    };
    const std::pair<Qt::Key, int> keys[] = {{Qt::Key_Up, 5},       {Qt::Key_PageUp, 4}, {Qt::Key_Down, 5},
                                            {Qt::Key_PageDown, 6}, {Qt::Key_Home, 0},   {Qt::Key_End, 19}};
    for (const auto& [key, index] : keys) {
        press(key);
        EXPECT_EQ(m_player->speedIndex(), index) << key;
        EXPECT_EQ(speed->sliderPosition(), index) << key;
        EXPECT_EQ(m_player->bar()->speedLabel()->text(), player::kSpeeds[size_t(index)].label) << key;
    }
}

TEST_F(PlayerWindowTest, DraggingThePositionPausesAndReleasingOnTheCurrentFrameChangesNothing) {
    ASSERT_TRUE(m_player->Open(m_record));
    advance(1s);
    m_player->positionScroll(player::ThumbTrack, 6);
    EXPECT_EQ(m_player->state(), PlayState::Paused);
    EXPECT_EQ(m_player->currentFrame(), 6);
    m_player->positionScroll(player::ThumbPosition, 6);
    EXPECT_EQ(m_player->currentFrame(), 6);
    EXPECT_EQ(m_player->state(), PlayState::Paused);
    m_player->positionScroll(player::ThumbTrack, 12); // beyond the end
    EXPECT_EQ(m_player->currentFrame(), 6);
    m_player->bar()->positionSlider()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(m_player->currentFrame(), 7);
    m_player->bar()->positionSlider()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(m_player->currentFrame(), 0);
    m_player->positionScroll(7 /* bottom */, 3);
    EXPECT_EQ(m_player->currentFrame(), 0);
}

TEST_F(PlayerWindowTest, SnapshotPausesAndSavesTheCurrentPicture) {
    ASSERT_TRUE(m_player->Open(m_record));
    advance(1500ms);
    const std::string path = m_dir.file("shot.bmp");
    m_dialogs.setNextFileName(QString::fromStdString(path));
    m_player->command(CommandId::PlayerSnapshot);
    EXPECT_EQ(m_player->state(), PlayState::Paused);
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_SAVE_OK)});
    const auto file = cliptest::readFile(path);
    ASSERT_GT(file.size(), 54u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(cliptest::le32(file, 10), 54u);
    EXPECT_EQ(cliptest::le32(file, 18), 32u);
    // Frame 3's upper half, top row, is its colour: the last row of the file.
    const size_t topRow = file.size() - 32 * 3;
    EXPECT_TRUE(
        cliptest::near({file[topRow + 2], file[topRow + 1], file[topRow]}, cliptest::frameColour(3), 16));
}

TEST_F(PlayerWindowTest, SnapshotsCarryChannelAndTimeAndTheMenuExportsTheClip) {
    ASSERT_TRUE(m_player->Open(m_record));
    // Two frames in: the clip's start plus one second.
    advance(1000ms);
    const std::string shot = m_dir.file("shot.png");
    m_dialogs.setNextFileName(QString::fromStdString(shot));
    m_player->command(CommandId::PlayerSnapshot);
    ASSERT_EQ(m_player->currentFrame(), 2);
    const QImage picture(QString::fromStdString(shot));
    EXPECT_EQ(picture.text("Title"), QString::fromUtf8("0002 G\u00e4te"));
    EXPECT_EQ(picture.text("Creation Time"),
              QDateTime(QDate(2001, 7, 15), QTime(14, 9, 34)).toString(Qt::ISODate));

    m_dialogs.clear();
    EXPECT_EQ(m_player->exportAction()->text(), "Export...");
    const std::string out = m_dir.file("gate.mkv");
    m_dialogs.setNextFileName(QString::fromStdString(out));
    m_player->command(CommandId::PlayerExportClip);
    EXPECT_EQ(m_dialogs.lastFileRequest().defaultName, QString::fromUtf8("0002G\u00e4te-20010715-140933"));
    EXPECT_EQ(m_dialogs.shownTexts(), QStringList{loadString(IDP_EXPORT_OK)});
    const cliptest::ReadBack file = cliptest::readBack(out);
    EXPECT_EQ(file.tags.at("title"), "0002 G\u00e4te"); // the Latin-1 name as UTF-8
    EXPECT_EQ(file.packets, cliptest::readBack(m_record.Path + m_record.FileName).packets);
}

TEST_F(PlayerWindowTest, PlayersAreIndependentAndCloseWithTheirOwner) {
    ASSERT_TRUE(m_player->Open(m_record));
    QPointer<PlayerWindow> second = new PlayerWindow(&m_owner, m_dialogs, m_clock.function());
    ASSERT_TRUE(second->Open(m_record));
    m_player->command(CommandId::PlayerPause);
    m_player->command(CommandId::PlayerDecrease);
    EXPECT_EQ(second->state(), PlayState::Running);
    EXPECT_EQ(second->sizeIndex(), 3);
    m_clock.now += 2s;
    second->playbackTick();
    EXPECT_EQ(second->currentFrame(), 4);
    EXPECT_EQ(m_player->currentFrame(), 0);

    second->close();
    deliverPostedEvents();
    EXPECT_TRUE(second.isNull());
    {
        auto* owner = new QWidget;
        QPointer<PlayerWindow> owned = new PlayerWindow(owner, m_dialogs, m_clock.function());
        delete owner;
        EXPECT_TRUE(owned.isNull());
    }
}

} // namespace
