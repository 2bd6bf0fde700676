#include "video/ui/ChannelWindow.h"
#include "link/CodecDecompressorFactory.h"
#include "tests/codec/TestFrames.h"
#include "tests/video/LiveWindowDoubles.h"
#include "video/ui/ChannelWindowLink.h"
#include "video/ui/StillViewer.h"
#include "video/ui/VideoViewArea.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QToolBar>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

// Runs what the event loop would run next, including deferred deletions.
void settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A frame as a site sends it, its decompressor and the picture it decodes to.
struct RealFrame {
    std::vector<uint8_t> frame;
    std::shared_ptr<VideoDecompressor> decompressor;
    std::vector<uint8_t> decoded;
};

RealFrame colourBarsFrame() {
    RealFrame real;
    if (auto encoder = TestFrameEncoder::create("mjpeg", makeFourCC('M', 'J', 'P', 'G'), 24, 320, 240))
        real.frame = encoder->encode(makeColourBars(320, 240));
    if (!real.frame.empty())
        real.decompressor = VideoDecompressor::locate(*BitmapInfoHeader::parse(real.frame));
    if (real.decompressor)
        real.decoded = real.decompressor->decompress(real.frame).value_or(std::vector<uint8_t>{});
    return real;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Mouse input as the window system delivers it; the left button is the one pressed.
void mouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

int countPixels(const QImage& image, const QRect& area, bool (*predicate)(QRgb)) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += predicate(image.pixel(x, y)) ? 1 : 0;
    return count;
}
bool isBlack(QRgb p) {
    return qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16;
}
bool isRed(QRgb p) {
    return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
}

class ChannelWindowTest : public ::testing::Test {
protected:
    ChannelWindowTest() {
        m_context.channels.replace({{7, "Gate"}, {8, "Yard"}});
        m_area->resize(1000, 600);
        m_area->show();
        settle();
    }

    // A window as the connection creates it; the test keeps the handle as a slot would.
    ChannelWindow* Open(int32_t channel, bool mayClose = true) {
        static uint64_t nextId = 1000;
        m_handles.push_back(m_area->CreateChannelWindow({channel, channel * 10, mayClose, nextId++}));
        settle();
        return static_cast<ChannelWindowLink&>(*m_handles.back()).window();
    }

    // Where the video goes: right of the toolbar, in picture coordinates.
    static QRect videoRect(ChannelWindow* window) {
        return window->picture()->rect().adjusted(window->leftOffset(), 0, 0, 0);
    }

    // The toolbar button of a command, by its place on the toolbar.
    static QAction* action(ChannelWindow* window, CommandId command) {
        static constexpr CommandId kOrder[] = {CommandId::ChannelRecord, CommandId::ChannelStop,
                                               CommandId::ChannelFix, CommandId::ChannelSnapshot,
                                               CommandId::ChannelClose};
        QList<QAction*> buttons = window->toolBar()->actions();
        buttons.removeIf([](QAction* a) { return a->isSeparator(); });
        EXPECT_EQ(buttons.size(), 5);
        const int index = int(std::find(std::begin(kOrder), std::end(kOrder), command) - kOrder);
        return index < buttons.size() ? buttons[index] : nullptr;
    }

    // Snapshot viewers open anywhere in the program.
    static QList<StillViewer*> viewers() {
        QList<StillViewer*> viewers;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* viewer = qobject_cast<StillViewer*>(widget))
                viewers.append(viewer);
        }
        return viewers;
    }

    std::vector<ClipRecord> clips() {
        std::vector<ClipRecord> records;
        m_context.clips.LoadClipRecords(records);
        return records;
    }

    FakeChannelWindowContext m_context;
    std::unique_ptr<VideoViewArea> m_area = std::make_unique<VideoViewArea>(m_context);
    std::vector<std::unique_ptr<ChannelWindowHandle>> m_handles;
    const RealFrame m_real = colourBarsFrame();
};

TEST_F(ChannelWindowTest, ShowsTitleAndToolbarAndRefusesClosesFromElsewhere) {
    ChannelWindow* gate = Open(7);
    EXPECT_EQ(gate->windowTitle(), QStringLiteral("0007 Gate"));
    EXPECT_EQ(Open(12345)->windowTitle(), QStringLiteral("12345 ")) << "unlisted channel";
    EXPECT_TRUE(gate->isVisible());
    EXPECT_FALSE(gate->windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint));
    EXPECT_EQ(gate->systemMenu(), nullptr);
    QAction* record = action(gate, CommandId::ChannelRecord);
    EXPECT_EQ(record->toolTip(), QStringLiteral("Record"));
    EXPECT_EQ(record->statusTip(), QStringLiteral("Start video channel record"));
    EXPECT_FALSE(record->icon().isNull()) << "toolbar pictures are compiled in";

    gate->close();
    settle();
    EXPECT_TRUE(gate->isVisible());
    EXPECT_EQ(m_area->channelWindows().size(), 2);
}

TEST_F(ChannelWindowTest, SizePresetsFollowThePictureWidthAndDoubleClicksStepThemInSizeChangeMode) {
    const struct {
        int width, preset;
        QSize video;
    } cases[] = {{160, 0, {160, 120}}, {176, 1, {176, 144}}, {320, 2, {320, 240}},
                 {352, 3, {352, 288}}, {333, 2, {320, 240}}, {0, 2, {320, 240}}};
    ChannelWindow* window = Open(7);
    for (bool bars : {true, false}) {
        window->applyBars(bars);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "width " << c.width << ", bars " << bars);
            window->move(30, 40);
            window->sizeForPicture(c.width, 100);
            settle();
            EXPECT_EQ(window->sizePreset(), c.preset);
            EXPECT_EQ(videoRect(window).size(), c.video);
            EXPECT_EQ(window->pos(), QPoint(30, 40));
        }
    }
    window->sizeForPicture(640, 480);
    EXPECT_EQ(window->geometry(), QRect(QPoint(0, 0), m_area->clientSize())) << "640 fills the view area";

    // Double-clicks: ignored while the mode is off; with it on the size cursor shows.
    QWidget* picture = window->picture();
    window->sizeForPicture(320, 240);
    mouse(picture, QEvent::MouseMove, {50, 50});
    EXPECT_NE(picture->cursor().shape(), Qt::BitmapCursor);
    mouse(picture, QEvent::MouseButtonDblClick, {50, 50}, Qt::LeftButton);
    EXPECT_EQ(window->sizePreset(), 2);
    m_context.sizeModeOn = true;
    mouse(picture, QEvent::MouseMove, {50, 50});
    EXPECT_EQ(picture->cursor().shape(), Qt::BitmapCursor);
    for (int preset : {3, 4, 0, 1, 2}) {
        mouse(picture, QEvent::MouseButtonDblClick, {10, 10}, Qt::LeftButton);
        settle();
        EXPECT_EQ(window->sizePreset(), preset);
        if (preset != ChannelWindow::kPresetFullView) {
            EXPECT_EQ(videoRect(window).size(), ChannelWindow::presetVideoSize(preset));
        }
    }
    m_context.sizeModeOn = false;
    mouse(picture, QEvent::MouseMove, {50, 50});
    EXPECT_NE(picture->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ChannelWindowTest, DraggingThePictureRaisesAndMovesTheWindow) {
    ChannelWindow* below = Open(7);
    ChannelWindow* above = Open(8);
    below->moveOnTop({100, 80});
    above->moveOnTop({120, 90});
    EXPECT_EQ(m_area->subWindowList(QMdiArea::StackingOrder).last(), above);

    QWidget* picture = below->picture();
    const QPoint grab(below->leftOffset() + 20, 30);
    mouse(picture, QEvent::MouseButtonPress, grab, Qt::LeftButton);
    EXPECT_EQ(m_area->subWindowList(QMdiArea::StackingOrder).last(), below);
    mouse(picture, QEvent::MouseMove, grab + QPoint(35, 25), Qt::LeftButton);
    mouse(picture, QEvent::MouseButtonRelease, grab + QPoint(35, 25));
    mouse(picture, QEvent::MouseMove, grab); // no button held: no move
    EXPECT_EQ(below->pos(), QPoint(135, 105));
}

TEST_F(ChannelWindowTest, HiddenBarsRemoveCaptionAndToolbarAndTheVideoStartsAtTheLeftEdge) {
    m_context.barsOn = false;
    ChannelWindow* bare = Open(7);
    EXPECT_TRUE(bare->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(bare->toolBar()->isVisible());
    EXPECT_EQ(bare->leftOffset(), 0);
    ASSERT_FALSE(m_real.decoded.empty());
    bare->deliverFrame(m_real.frame);
    bare->draw(m_real.decoded);
    bare->sizeForPicture(320, 240);
    settle();
    EXPECT_GT(qRed(bare->picture()->grab().toImage().pixel(2, 20)), 200) << "the white bar from x = 0";

    bare->applyBars(true);
    EXPECT_TRUE(bare->windowFlags() & Qt::WindowTitleHint);
    EXPECT_FALSE(bare->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(bare->toolBar()->isVisible());
    EXPECT_GT(bare->leftOffset(), 16);
    EXPECT_GT(bare->contentsMargins().top(), bare->contentsMargins().left()) << "a caption";
}

TEST_F(ChannelWindowTest, RecordStopAndSnapshotRunOnlyWhenEnabledAlsoWhenPosted) {
    ChannelWindow* window = Open(7);
    ChannelWindowHandle& handle = *m_handles.back();
    ASSERT_FALSE(m_real.frame.empty());
    handle.setStreamFormat(*BitmapInfoHeader::parse(m_real.frame));

    // No frame yet: a snapshot shows nothing; a recording starts with the next frame.
    handle.onPostedCommand(CommandId::ChannelSnapshot);
    EXPECT_TRUE(viewers().isEmpty());
    EXPECT_FALSE(action(window, CommandId::ChannelStop)->isEnabled());
    action(window, CommandId::ChannelRecord)->trigger();
    ASSERT_TRUE(handle.isRecording());
    EXPECT_FALSE(action(window, CommandId::ChannelRecord)->isEnabled());
    handle.RecordFrame(m_real.frame);
    action(window, CommandId::ChannelStop)->trigger();
    EXPECT_TRUE(action(window, CommandId::ChannelRecord)->isEnabled());
    ASSERT_EQ(clips().size(), 1u);
    EXPECT_EQ(clips()[0].Location, "Gate");
    EXPECT_EQ(readFile(m_context.recordPath + clips()[0].ImageName), m_real.frame);

    // A frame that did not decode (yet): the snapshot holds it as received,
    // never a fresh decode of it on its own.
    handle.deliverFrame(m_real.frame);
    handle.onPostedCommand(CommandId::ChannelSnapshot);
    ASSERT_EQ(viewers().size(), 1);
    EXPECT_FALSE(viewers()[0]->decoded());
    EXPECT_TRUE(std::ranges::equal(viewers()[0]->heldImage(), m_real.frame));
    viewers()[0]->close();
    settle();

    // An answered call's pair, twice: Record is disabled the second time, Snapshot never is.
    handle.draw(m_real.decoded);
    for (int round = 0; round < 2; ++round) {
        handle.onPostedCommand(CommandId::ChannelRecord);
        handle.onPostedCommand(CommandId::ChannelSnapshot);
    }
    EXPECT_TRUE(handle.isRecording());
    const QList<StillViewer*> viewers = this->viewers();
    ASSERT_EQ(viewers.size(), 2);
    EXPECT_TRUE(viewers[0]->isVisible());
    EXPECT_TRUE(viewers[0]->decoded());
    EXPECT_TRUE(std::ranges::equal(viewers[0]->heldImage(), m_real.decoded)) << "the picture on screen";
    EXPECT_TRUE(viewers[0]->windowTitle().startsWith(QStringLiteral("0007 Gate -- ")));

    handle.close(); // the connection ends: the recording is filed
    EXPECT_EQ(clips().size(), 2u) << "one clip per Record that was enabled";
    settle();
    EXPECT_TRUE(m_area->channelWindows().isEmpty());

    // A record folder that cannot be written: Record does nothing and stays enabled.
    m_context.recordPath = m_context.dir.file("missing/");
    ChannelWindow* other = Open(8);
    other->executeCommand(CommandId::ChannelRecord);
    EXPECT_FALSE(other->isRecording());
    EXPECT_TRUE(action(other, CommandId::ChannelRecord)->isEnabled());
}

// ---------------------------------------------------------------------------
// With the real connection's channel window list

// The view area as the connection sees it; can grant new windows the close
// permission that otherwise only the site's channel list gives.
class GrantingViewArea final : public ViewArea {
public:
    explicit GrantingViewArea(VideoViewArea& area)
        : m_area(area) {}
    bool grant = false;
    QSize clientSize() const override { return m_area.clientSize(); }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        ChannelWindowInfo granted = info;
        granted.mayClose = info.mayClose || grant;
        return m_area.CreateChannelWindow(granted);
    }

private:
    VideoViewArea& m_area;
};

class ChannelWindowLinkTest : public ChannelWindowTest {
protected:
    ChannelWindowLinkTest() {
        m_port.attachMainWindow(nullptr, &m_granting, nullptr);
        m_context.port = &m_port;
    }

    ChannelWindow* route(int32_t channel, int32_t streamKey) {
        m_port.RouteFrame({uint8_t(InboundType::VideoFrame), channel, streamKey, m_real.frame});
        settle();
        CommPort::ChannelSlot* slot = m_port.FindSlotByKey(streamKey);
        return slot && slot->window ? static_cast<ChannelWindowLink&>(*slot->window).window() : nullptr;
    }

    FakeConnectionStore m_store;
    CodecDecompressorFactory m_decompressors;
    GrantingViewArea m_granting{*m_area};
    CommPort m_port{m_context.scriptedDialogs, m_store, m_context.channels, m_decompressors};
};

TEST_F(ChannelWindowLinkTest, FramesAreDrawnAtOnceRepaintedFromTheLastPictureAndMarkedWhenStopped) {
    ASSERT_FALSE(m_real.frame.empty());
    ChannelWindow* window = route(7, 70);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(videoRect(window).size(), QSize(320, 240));
    const QRect video = videoRect(window);
    const QImage repainted = window->picture()->grab().toImage();
    EXPECT_LT(countPixels(repainted, video.adjusted(0, 0, 0, -90), isBlack), 320 * 150 / 6)
        << "colour bars, black only in the last bar";
    EXPECT_GT(qBlue(repainted.pixel(video.left() + 10, 20)), 200) << "the first bar is white";

    // The immediate draw shows the picture, and repaints keep showing it
    // without a frame to decode.
    ChannelWindow* unbuffered = Open(8);
    unbuffered->sizeForPicture(320, 240);
    unbuffered->moveOnTop({500, 0});
    settle();
    unbuffered->draw(m_real.decoded);
    const QPoint origin = unbuffered->picture()->mapTo(m_area->window(), videoRect(unbuffered).topLeft());
    const QImage screen =
        m_area->screen()->grabWindow(m_area->window()->winId(), origin.x(), origin.y(), 320, 150).toImage();
    ASSERT_EQ(screen.size(), QSize(320, 150));
    EXPECT_LT(countPixels(screen, screen.rect(), isBlack), 320 * 150 / 6);
    EXPECT_LT(countPixels(unbuffered->picture()->grab().toImage(), videoRect(unbuffered), isBlack),
              320 * 240 / 6)
        << "a repaint shows the last picture";

    // A frame that does not decode leaves the last picture on screen.
    CommPort::ChannelSlot* slot = m_port.FindSlotByKey(70);
    std::vector<uint8_t> garbled = m_real.frame;
    std::fill(garbled.begin() + 40, garbled.end(), uint8_t(0x11));
    m_port.RouteFrame({uint8_t(InboundType::VideoFrame), 7, 70, garbled});
    settle();
    ASSERT_TRUE(slot->window);
    EXPECT_GT(qBlue(window->picture()->grab().toImage().pixel(video.left() + 10, 20)), 200)
        << "still the last picture, not black";

    const QRect mark(video.left() + 5, 5, 40, 20);
    EXPECT_EQ(countPixels(repainted, mark, isRed), 0);
    m_port.FindSlotByKey(70)->window->markClosedBySite();
    const QImage stopped = window->picture()->grab().toImage();
    EXPECT_GT(countPixels(stopped, mark, isRed), 5) << "the red \"Stop.\"";
    EXPECT_GT(qBlue(stopped.pixel(video.left() + 10, 100)), 200) << "over the last picture";
}

TEST_F(ChannelWindowLinkTest, FixNeedsTwoWindowsAndOnlyTheLastFixedOneIsChecked) {
    ASSERT_FALSE(m_real.frame.empty());
    ChannelWindow* a = route(7, 70);
    EXPECT_FALSE(action(a, CommandId::ChannelFix)->isEnabled());
    a->executeCommand(CommandId::ChannelFix);
    EXPECT_TRUE(m_context.fixCalls.empty());

    ChannelWindow* b = route(8, 80);
    EXPECT_TRUE(action(a, CommandId::ChannelFix)->isEnabled()) << "refreshed once the second window counts";
    action(a, CommandId::ChannelFix)->trigger();
    action(b, CommandId::ChannelFix)->trigger();
    settle();
    EXPECT_FALSE(action(a, CommandId::ChannelFix)->isChecked());
    EXPECT_TRUE(action(b, CommandId::ChannelFix)->isChecked());
    EXPECT_EQ(m_context.fixCalls, (std::vector<uint64_t>{a->info().windowId, b->info().windowId}));
    b->executeCommand(CommandId::ChannelFix); // the same command releases
    EXPECT_FALSE(action(b, CommandId::ChannelFix)->isChecked());
}

TEST_F(ChannelWindowLinkTest, CloseNeedsThePermissionAndAsksUnlessTheSiteStoppedTheChannel) {
    ASSERT_FALSE(m_real.frame.empty());
    ChannelWindow* locked = route(7, 70);
    EXPECT_FALSE(action(locked, CommandId::ChannelClose)->isEnabled());
    locked->executeCommand(CommandId::ChannelClose);

    m_granting.grant = true;
    ChannelWindow* running = route(8, 80);
    ChannelWindow* stopped = route(9, 90);
    m_port.FindSlotByKey(90)->window->markClosedBySite();
    m_context.scriptedDialogs.setNextAnswer(MessageAnswer::No);
    running->executeCommand(CommandId::ChannelClose);
    ASSERT_EQ(m_context.scriptedDialogs.shown().size(), 1u);
    EXPECT_EQ(m_context.scriptedDialogs.shown()[0].text,
              QStringLiteral("\n\n Are you sure close local site video channel? \n\n"));
    EXPECT_EQ(m_context.scriptedDialogs.shown()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(m_context.scriptedDialogs.shown()[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(m_context.closeCalls.empty());
    EXPECT_EQ(m_port.WindowCount(), 3);

    const std::vector<std::pair<uint64_t, bool>> expected = {{running->info().windowId, true},
                                                             {stopped->info().windowId, false}};
    m_context.scriptedDialogs.setNextAnswer(MessageAnswer::Yes);
    running->executeCommand(CommandId::ChannelClose);
    stopped->executeCommand(CommandId::ChannelClose);
    EXPECT_EQ(m_context.scriptedDialogs.shown().size(), 2u) << "no question for a channel the site stopped";
    EXPECT_EQ(m_context.closeCalls, expected) << "CloseChannel only for the running one";
    EXPECT_EQ(m_port.WindowCount(), 1);
}

TEST_F(ChannelWindowLinkTest, TheOperatorsCloseRemovesTheWindowOnceAndItsStreamMakesNoNewOne) {
    ASSERT_FALSE(m_real.frame.empty());
    m_granting.grant = true;
    m_store.videoArrange = true;
    QPointer<ChannelWindow> window = route(7, 70);
    ChannelWindow* other = route(8, 80);
    window->executeCommand(CommandId::ChannelRecord);

    // The connection destroys the handle while the window's own command still
    // runs; the widget goes once control is back in the event loop.
    m_context.scriptedDialogs.setNextAnswer(MessageAnswer::Yes);
    action(window, CommandId::ChannelClose)->trigger();
    EXPECT_EQ(m_port.FindSlotByKey(70)->window, nullptr) << "the slot stays, without a window";
    settle();
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(clips().size(), 1u) << "closing stopped the recording and filed it";

    const int frames = m_port.frameCount();
    EXPECT_EQ(route(7, 70), nullptr);
    EXPECT_EQ(m_port.frameCount(), frames);
    EXPECT_EQ(m_area->channelWindows(), QList<ChannelWindow*>{other});
    EXPECT_FALSE(action(other, CommandId::ChannelFix)->isEnabled()) << "one window left";
}

TEST_F(ChannelWindowLinkTest, AWindowTheConnectionClosesDuringTheQuestionIgnoresTheAnswer) {
    ASSERT_FALSE(m_real.frame.empty());
    m_granting.grant = true;
    QPointer<ChannelWindow> window = route(7, 70);
    class DroppingDialogs final : public DialogService {
    public:
        explicit DroppingDialogs(CommPort& port)
            : m_port(port) {}
        MessageAnswer message(QWidget*, const QString&, MessageButtons, MessageIcon) override {
            m_port.RemoveChannelWindow(m_port.FindSlotByKey(70), true); // the call drops meanwhile
            return MessageAnswer::Yes;
        }
        QString saveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
        QString openFileName(QWidget*, const FileDialogRequest&) override { return {}; }

    private:
        CommPort& m_port;
    } dialogs(m_port);
    m_context.dialogOverride = &dialogs;

    window->executeCommand(CommandId::ChannelClose);
    EXPECT_TRUE(m_context.closeCalls.empty());
    settle();
    EXPECT_TRUE(window.isNull());
}

TEST_F(ChannelWindowLinkTest, HandlesOutliveTheirWidgetsQuietly) {
    ASSERT_FALSE(m_real.frame.empty());
    QPointer<ChannelWindow> window = route(7, 70);
    window->executeCommand(CommandId::ChannelRecord);
    m_port.attachMainWindow(nullptr, nullptr, nullptr);
    m_area.reset(); // the view area and its windows go before the connection
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(clips().size(), 1u) << "a window destroyed with its parent still files its clip";

    ChannelWindowHandle& handle = *m_port.FindSlotByKey(70)->window;
    EXPECT_FALSE(handle.isRecording());
    handle.deliverFrame(m_real.frame);
    handle.draw(m_real.decoded);
    handle.onPostedCommand(CommandId::ChannelSnapshot);
    EXPECT_TRUE(viewers().isEmpty());
    m_port.RemoveChannelWindow(m_port.FindSlotByKey(70), true);
}

} // namespace

namespace {

bool isAmber(QRgb p) {
    return qRed(p) > 200 && qGreen(p) > 170 && qBlue(p) < 140;
}

TEST_F(ChannelWindowLinkTest, TheOldPictureMarkShowsBottomRightApartFromTheStopMarkAndGoesWithTheNextFrame) {
    ASSERT_FALSE(m_real.frame.empty());
    ChannelWindow* window = route(7, 70);
    ASSERT_NE(window, nullptr);
    const QRect video = videoRect(window);
    const QRect corner(video.right() - 160, video.bottom() - 30, 160, 30);
    const QRect stopMark(video.left() + 5, 5, 40, 20);
    EXPECT_EQ(countPixels(window->picture()->grab().toImage(), corner, isAmber), 0);

    m_port.FindSlotByKey(70)->window->showFrameAge(14);
    EXPECT_EQ(window->frameAgeShown(), 14);
    const QImage marked = window->picture()->grab().toImage();
    EXPECT_GT(countPixels(marked, corner, isAmber), 10) << "\"last frame 14 s ago\"";
    EXPECT_EQ(countPixels(marked, stopMark, isRed), 0);

    route(7, 70); // the next frame
    EXPECT_FALSE(window->frameAgeShown());
    EXPECT_EQ(countPixels(window->picture()->grab().toImage(), corner, isAmber), 0);
}

TEST_F(ChannelWindowLinkTest, OneChannelAloneFillsTheAreaWithItsAspectAndTheLayoutComesBack) {
    ASSERT_FALSE(m_real.frame.empty());
    ChannelWindow* first = route(7, 70);
    ChannelWindow* second = route(8, 80);
    ASSERT_TRUE(first && second);
    const QRect firstPlace = first->geometry();
    const QRect secondPlace = second->geometry();

    ASSERT_TRUE(m_area->showAlone(second));
    settle();
    EXPECT_EQ(m_area->aloneWindow(), second);
    EXPECT_FALSE(first->isVisible());
    const QSize area = m_area->clientSize();
    const QRect video = videoRect(second);
    // 320 x 240 scaled to the area's height (1000 x 600 is wider than 4:3).
    EXPECT_NEAR(double(video.width()) / video.height(), 4.0 / 3.0, 0.02);
    EXPECT_GE(second->geometry().height(), area.height() - 2);
    EXPECT_LE(second->geometry().width(), area.width());
    EXPECT_FALSE(m_area->showAlone(first)) << "one at a time";

    m_area->restoreLayout();
    settle();
    EXPECT_EQ(m_area->aloneWindow(), nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->geometry(), firstPlace);
    EXPECT_EQ(second->geometry(), secondPlace);

    // Closing the window shown alone brings the others back.
    ASSERT_TRUE(m_area->showAlone(first));
    m_port.CloseWindow(m_port.FindSlotByKey(70)->windowId, false);
    settle();
    EXPECT_EQ(m_area->aloneWindow(), nullptr);
    EXPECT_TRUE(second->isVisible());
}

} // namespace
