#include "ChannelWindow.h"
#include "ChannelWindowLink.h"
#include "CodecDecompressorFactory.h"
#include "LinkDoubles.h"
#include "LiveWindowDoubles.h"
#include "TestFrames.h"
#include "VideoViewArea.h"

#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QToolBar>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kMjpg = makeFourCC('M', 'J', 'P', 'G');

// Runs what the event loop would run next, including deferred deletions.
void settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// A frame as a site sends it, and the drawable picture it decodes to.
struct RealFrame {
    std::vector<uint8_t> frame;
    std::shared_ptr<VideoDecompressor> decompressor;
    std::vector<uint8_t> decoded;
};

RealFrame encodeColourBars(int width = 320, int height = 240) {
    RealFrame real;
    auto encoder = TestFrameEncoder::create("mjpeg", kMjpg, 24, width, height);
    if (!encoder)
        return real;
    real.frame = encoder->encode(makeColourBars(width, height));
    real.decompressor = VideoDecompressor::locate(*BitmapInfoHeader::parse(real.frame));
    if (real.decompressor)
        real.decoded = real.decompressor->decompress(real.frame).value_or(std::vector<uint8_t>{});
    return real;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Mouse input as the window system delivers it to `widget`.
void sendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}
void press(QWidget* widget, QPoint at) {
    sendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}
void release(QWidget* widget, QPoint at) {
    sendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}
void moveTo(QWidget* widget, QPoint at, Qt::MouseButtons held = Qt::NoButton) {
    sendMouse(widget, QEvent::MouseMove, at, Qt::NoButton, held);
}
void doubleClick(QWidget* widget, QPoint at) {
    press(widget, at);
    release(widget, at);
    sendMouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
    release(widget, at);
}

bool isBlack(QRgb pixel) {
    return qRed(pixel) < 16 && qGreen(pixel) < 16 && qBlue(pixel) < 16;
}

int countPixels(const QImage& image, const QRect& area, auto predicate) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += predicate(image.pixel(x, y)) ? 1 : 0;
    return count;
}

class ChannelWindowTest : public ::testing::Test {
protected:
    ChannelWindowTest() {
        m_context.channels.Replace({{7, "Gate"}, {8, "Yard"}});
        m_area->resize(1000, 600);
        m_area->show();
        settle();
    }

    // A window as the connection creates it, with the handle the slot would keep.
    ChannelWindow* Open(int32_t channel, bool mayClose = true, uint64_t windowId = 0) {
        static uint64_t nextId = 1000;
        const ChannelWindowInfo info{channel, channel * 10, mayClose, windowId ? windowId : nextId++};
        m_handles.push_back(m_area->CreateChannelWindow(info));
        settle();
        return static_cast<ChannelWindowLink&>(*m_handles.back()).Window();
    }

    // The area right of the toolbar where the video goes, in picture coordinates.
    static QRect VideoRect(ChannelWindow* window) {
        const QWidget* picture = window->Picture();
        return QRect(window->LeftOffset(), 0, picture->width() - window->LeftOffset(), picture->height());
    }

    // The toolbar button of a command, found by its place on the toolbar.
    static QAction* Action(ChannelWindow* window, int command) {
        static constexpr int kOrder[] = {kChannelRecord, kChannelStop, kChannelFix, kChannelSnapshot,
                                         kChannelClose};
        QList<QAction*> buttons = window->ToolBar()->actions();
        buttons.removeIf([](QAction* a) { return a->isSeparator(); });
        EXPECT_EQ(buttons.size(), 5);
        for (int i = 0; i < buttons.size() && i < 5; ++i) {
            if (kOrder[i] == command)
                return buttons[i];
        }
        return nullptr;
    }

    FakeChannelWindowContext m_context;
    std::unique_ptr<VideoViewArea> m_area = std::make_unique<VideoViewArea>(m_context);
    std::vector<std::unique_ptr<ChannelWindowHandle>> m_handles;
};

// ---------------------------------------------------------------------------
// Creation, title, toolbar

TEST_F(ChannelWindowTest, StartsWithTitleToolbarAndPromptsAndRefusesForeignCloses) {
    ChannelWindow* gate = Open(7);
    ChannelWindow* unlisted = Open(12345);
    EXPECT_EQ(gate->windowTitle(), QStringLiteral("0007 Gate"));
    EXPECT_EQ(unlisted->windowTitle(), QStringLiteral("12345 "));
    EXPECT_TRUE(gate->isVisible());
    EXPECT_EQ(m_area->ChannelWindows(), (QList<ChannelWindow*>{gate, unlisted}));
    EXPECT_FALSE(gate->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(gate->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(gate->systemMenu(), nullptr);

    QAction* record = Action(gate, kChannelRecord);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->toolTip(), QStringLiteral("Record"));
    EXPECT_EQ(record->statusTip(), QStringLiteral("Start video channel record"));
    EXPECT_EQ(Action(gate, kChannelClose)->statusTip(), QStringLiteral("Close video channel"));
    EXPECT_FALSE(record->icon().isNull()) << "toolbar pictures are compiled in";

    gate->close(); // anything but the Close command or the connection
    settle();
    EXPECT_TRUE(gate->isVisible());
    EXPECT_EQ(m_area->ChannelWindows().size(), 2);
}

// ---------------------------------------------------------------------------
// Size presets, size-change mode, moving

TEST_F(ChannelWindowTest, SizePresetsFollowThePictureWidthWithAndWithoutBars) {
    const struct {
        int width;
        int preset;
        QSize video;
    } cases[] = {{160, 0, {160, 120}}, {176, 1, {176, 144}}, {320, 2, {320, 240}},
                 {352, 3, {352, 288}}, {333, 2, {320, 240}}, {0, 2, {320, 240}}};
    ChannelWindow* window = Open(7);
    for (bool bars : {true, false}) {
        window->ApplyBars(bars);
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "width " << c.width << ", bars " << bars);
            window->move(30, 40);
            window->SizeForPicture(c.width, 100);
            settle();
            EXPECT_EQ(window->SizePreset(), c.preset);
            EXPECT_EQ(VideoRect(window).size(), c.video);
            EXPECT_EQ(window->pos(), QPoint(30, 40)) << "the position is kept";
        }
    }
}

TEST_F(ChannelWindowTest, APictureOf640PixelsFillsTheViewArea) {
    ChannelWindow* window = Open(7);
    window->move(50, 50);
    window->SizeForPicture(640, 480);
    settle();
    EXPECT_EQ(window->SizePreset(), ChannelWindow::kPresetFullView);
    EXPECT_EQ(window->geometry(), QRect(QPoint(0, 0), m_area->ClientSize()));
    EXPECT_EQ(m_area->ClientSize(), m_area->viewport()->size());
}

TEST_F(ChannelWindowTest, DoubleClickStepsThePresetOnlyInSizeChangeModeWithTheSizeCursor) {
    ChannelWindow* window = Open(7);
    window->SizeForPicture(320, 240);
    settle();
    QWidget* picture = window->Picture();
    const QPoint inside(100, 60);

    moveTo(picture, inside);
    EXPECT_NE(picture->cursor().shape(), Qt::BitmapCursor);
    doubleClick(picture, inside);
    EXPECT_EQ(window->SizePreset(), 2) << "mode off: default double-click handling";

    m_context.sizeChangeMode = true;
    moveTo(picture, inside + QPoint(1, 1));
    EXPECT_EQ(picture->cursor().shape(), Qt::BitmapCursor);
    EXPECT_FALSE(picture->cursor().pixmap().isNull());

    const int expected[] = {3, 4, 0, 1, 2};
    for (int preset : expected) {
        doubleClick(picture, QPoint(10 + window->LeftOffset(), 10));
        settle();
        EXPECT_EQ(window->SizePreset(), preset);
        if (preset == ChannelWindow::kPresetFullView)
            EXPECT_EQ(window->geometry(), QRect(QPoint(0, 0), m_area->ClientSize()));
        else
            EXPECT_EQ(VideoRect(window).size(), ChannelWindow::PresetVideoSize(preset));
    }

    m_context.sizeChangeMode = false;
    moveTo(picture, inside);
    EXPECT_NE(picture->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ChannelWindowTest, DraggingThePictureMovesTheWindowAndRaisesIt) {
    ChannelWindow* below = Open(7);
    ChannelWindow* above = Open(8);
    below->MoveOnTop(QPoint(100, 80));
    above->MoveOnTop(QPoint(120, 90));
    EXPECT_EQ(m_area->subWindowList(QMdiArea::StackingOrder).last(), above);

    QWidget* picture = below->Picture();
    const QPoint grab(below->LeftOffset() + 20, 30);
    press(picture, grab);
    EXPECT_EQ(m_area->subWindowList(QMdiArea::StackingOrder).last(), below);
    moveTo(picture, grab + QPoint(35, 25), Qt::LeftButton);
    release(picture, grab + QPoint(35, 25));
    EXPECT_EQ(below->pos(), QPoint(135, 105));

    // Without the button held, moving the pointer leaves the window where it is.
    moveTo(picture, grab);
    EXPECT_EQ(below->pos(), QPoint(135, 105));
}

// ---------------------------------------------------------------------------
// Bars

TEST_F(ChannelWindowTest, HiddenBarsRemoveCaptionAndToolbarAndTheVideoStartsAtTheLeftEdge) {
    m_context.barsShown = false;
    ChannelWindow* bare = Open(7);
    EXPECT_FALSE(bare->BarsShown());
    EXPECT_TRUE(bare->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(bare->ToolBar()->isVisible());
    EXPECT_EQ(bare->LeftOffset(), 0);

    const RealFrame real = encodeColourBars();
    ASSERT_FALSE(real.decoded.empty());
    bare->DeliverFrame(real.frame, real.decompressor);
    bare->SizeForPicture(320, 240);
    settle();
    const QImage shot = bare->Picture()->grab().toImage();
    EXPECT_EQ(shot.size(), QSize(320, 240));
    EXPECT_GT(qRed(shot.pixel(2, 20)), 200) << "white bar from x = 0";

    bare->ApplyBars(true);
    settle();
    EXPECT_TRUE(bare->windowFlags() & Qt::WindowTitleHint);
    EXPECT_FALSE(bare->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(bare->ToolBar()->isVisible());
    EXPECT_GT(bare->LeftOffset(), 16);
    EXPECT_EQ(bare->LeftOffset(), bare->ToolBar()->width());
    EXPECT_GT(bare->contentsMargins().top(), bare->contentsMargins().left()) << "caption above the picture";
}

// ---------------------------------------------------------------------------
// Commands: enable rules, posted commands, recording, snapshots

TEST_F(ChannelWindowTest, RecordStopAndSnapshotFollowTheirEnableRules) {
    ChannelWindow* window = Open(7);
    const RealFrame real = encodeColourBars();
    ASSERT_FALSE(real.frame.empty());
    window->SetStreamFormat(*BitmapInfoHeader::parse(real.frame));
    window->DeliverFrame(real.frame, real.decompressor);

    EXPECT_TRUE(window->IsCommandEnabled(kChannelRecord));
    EXPECT_FALSE(window->IsCommandEnabled(kChannelStop));
    EXPECT_TRUE(window->IsCommandEnabled(kChannelSnapshot));
    EXPECT_FALSE(window->IsCommandEnabled(32790)) << "not a channel window command";
    EXPECT_FALSE(Action(window, kChannelStop)->isEnabled());

    Action(window, kChannelRecord)->trigger();
    EXPECT_TRUE(window->IsRecording());
    EXPECT_FALSE(Action(window, kChannelRecord)->isEnabled());
    EXPECT_TRUE(Action(window, kChannelStop)->isEnabled());
    EXPECT_TRUE(window->IsCommandEnabled(kChannelSnapshot));

    // Record arriving while recording changes nothing: the clip goes on.
    window->ExecuteCommand(kChannelRecord);
    window->RecordFrame(real.frame);
    EXPECT_TRUE(window->IsRecording());

    Action(window, kChannelStop)->trigger();
    EXPECT_FALSE(window->IsRecording());
    EXPECT_TRUE(Action(window, kChannelRecord)->isEnabled());
    std::vector<ClipRecord> records;
    m_context.clips.LoadClipRecords(records);
    ASSERT_EQ(records.size(), 1u) << "one clip, not restarted by the second Record";
    EXPECT_EQ(records[0].Channel, 7);
    EXPECT_EQ(records[0].Location, "Gate");
    EXPECT_EQ(readFile(m_context.recordPath + records[0].ImageName), real.frame)
        << "the clip starts with the picture on screen";

    // A record folder that cannot be written: Record does nothing and stays enabled.
    m_context.recordPath = m_context.dir.file("missing/");
    window->ExecuteCommand(kChannelRecord);
    EXPECT_FALSE(window->IsRecording());
    EXPECT_TRUE(Action(window, kChannelRecord)->isEnabled());
}

TEST_F(ChannelWindowTest, PostedRecordThenSnapshotRecordFromTheFirstFrameAndSnapshotIt) {
    ChannelWindow* window = Open(7);
    ChannelWindowHandle& handle = *m_handles.back();
    const RealFrame real = encodeColourBars();
    ASSERT_FALSE(real.frame.empty());
    handle.SetStreamFormat(*BitmapInfoHeader::parse(real.frame));
    handle.DeliverFrame(real.frame, real.decompressor);
    handle.Draw(real.decoded);

    handle.OnPostedCommand(kChannelRecord);
    handle.OnPostedCommand(kChannelSnapshot);
    EXPECT_TRUE(handle.IsRecording());
    ASSERT_EQ(m_context.snapshots.size(), 1u);
    EXPECT_EQ(m_context.snapshots[0].frame, real.frame);
    EXPECT_EQ(m_context.snapshots[0].decompressor, real.decompressor.get());
    EXPECT_TRUE(m_context.snapshots[0].title.startsWith(QStringLiteral("0007 Gate -- ")))
        << m_context.snapshots[0].title.toStdString();
    EXPECT_GT(m_context.snapshots[0].title.size(), QStringLiteral("0007 Gate -- ").size());

    // The same pair again: Record is disabled now, Snapshot never is.
    handle.OnPostedCommand(kChannelRecord);
    handle.OnPostedCommand(kChannelSnapshot);
    EXPECT_EQ(m_context.snapshots.size(), 2u);

    handle.Close(); // the connection ends: the recording is stopped and filed
    std::vector<ClipRecord> records;
    m_context.clips.LoadClipRecords(records);
    EXPECT_EQ(records.size(), 1u);
    EXPECT_EQ(readFile(m_context.recordPath + records.at(0).ImageName), real.frame);
    settle();
    EXPECT_TRUE(m_area->ChannelWindows().isEmpty());
    (void)window;
}

TEST_F(ChannelWindowTest, WithoutAFrameRecordWaitsForTheNextOneAndSnapshotShowsNothing) {
    ChannelWindow* window = Open(7);
    const RealFrame real = encodeColourBars();
    ASSERT_FALSE(real.frame.empty());
    window->SetStreamFormat(*BitmapInfoHeader::parse(real.frame));
    window->ExecuteCommand(kChannelSnapshot);
    EXPECT_TRUE(m_context.snapshots.empty());

    window->ExecuteCommand(kChannelRecord);
    ASSERT_TRUE(window->IsRecording());
    window->RecordFrame(real.frame); // the connection hands frames over while recording
    window->ExecuteCommand(kChannelStop);
    std::vector<ClipRecord> records;
    m_context.clips.LoadClipRecords(records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(readFile(m_context.recordPath + records[0].ImageName), real.frame);
}

// ---------------------------------------------------------------------------
// Fix and Close with the real connection's window list

// The view area as the connection sees it; can grant every new window the
// close permission that otherwise only the site's channel list gives.
class GrantingViewArea final : public ViewArea {
public:
    explicit GrantingViewArea(VideoViewArea& area)
        : m_area(area) {}
    bool force = false;
    QSize ClientSize() const override { return m_area.ClientSize(); }
    std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) override {
        ChannelWindowInfo granted = info;
        granted.mayClose = granted.mayClose || force;
        return m_area.CreateChannelWindow(granted);
    }

private:
    VideoViewArea& m_area;
};

class ChannelWindowLinkTest : public ChannelWindowTest {
protected:
    ChannelWindowLinkTest() {
        m_port.AttachMainWindow(nullptr, &m_mayClose, nullptr);
        m_context.port = &m_port;
    }

    // A frame of `streamKey` on `channel`, as the receiver hands it over.
    void Route(int32_t channel, int32_t streamKey, const std::vector<uint8_t>& frame) {
        InboundPacket packet;
        packet.type = uint8_t(InboundType::VideoFrame);
        packet.param1 = channel;
        packet.param2 = streamKey;
        packet.payload = frame;
        m_port.RouteFrame(packet);
        settle();
    }

    ChannelWindow* WindowOf(int32_t streamKey) {
        CommPort::ChannelSlot* slot = m_port.FindSlotByKey(streamKey);
        if (!slot || !slot->window)
            return nullptr;
        return static_cast<ChannelWindowLink&>(*slot->window).Window();
    }

    FakeStore m_store;
    CodecDecompressorFactory m_decompressors;
    GrantingViewArea m_mayClose{*m_area};
    CommPort m_port{m_context.dialogs, m_store, m_context.channels, m_decompressors};
    RealFrame m_real = encodeColourBars();
};

TEST_F(ChannelWindowLinkTest, FrameRoutedByTheConnectionIsDrawnAndRepainted) {
    ASSERT_FALSE(m_real.frame.empty());
    Route(7, 70, m_real.frame);
    ChannelWindow* window = WindowOf(70);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->StreamFormat().biCompression, kMjpg);
    EXPECT_EQ(VideoRect(window).size(), QSize(320, 240));

    // What the immediate draw put on screen.
    settle();
    const QPoint origin = window->Picture()->mapTo(m_area->window(), QPoint(window->LeftOffset(), 0));
    const QImage screen = QGuiApplication::primaryScreen()
                              ->grabWindow(m_area->window()->winId(), origin.x(), origin.y(), 320, 240)
                              .toImage();
    ASSERT_EQ(screen.size(), QSize(320, 240));
    EXPECT_LT(countPixels(screen, QRect(0, 0, 320, 150), isBlack), 320 * 150 / 6)
        << "colour bars, black only in the last bar";

    // A repaint decodes the buffered frame again.
    const QImage repainted = window->Picture()->grab().toImage();
    const QRect video = VideoRect(window);
    EXPECT_LT(countPixels(repainted, QRect(video.topLeft(), QSize(320, 150)), isBlack), 320 * 150 / 6);
    EXPECT_GT(qRed(repainted.pixel(video.left() + 10, 20)), 200) << "the first bar is white";
    EXPECT_GT(qBlue(repainted.pixel(video.left() + 10, 20)), 200);
}

TEST_F(ChannelWindowLinkTest, StoppedBySiteShowsARedMarkOverTheLastPicture) {
    ASSERT_FALSE(m_real.frame.empty());
    Route(7, 70, m_real.frame);
    ChannelWindow* window = WindowOf(70);
    ASSERT_NE(window, nullptr);
    const QRect markArea(window->LeftOffset() + 5, 5, 40, 20);
    auto isRed = [](QRgb p) {
        return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60;
    };
    EXPECT_EQ(countPixels(window->Picture()->grab().toImage(), markArea, isRed), 0);

    m_port.FindSlotByKey(70)->window->MarkClosedBySite();
    EXPECT_TRUE(window->IsClosedBySite());
    const QImage marked = window->Picture()->grab().toImage();
    EXPECT_GT(countPixels(marked, markArea, isRed), 5);
    EXPECT_GT(qRed(marked.pixel(window->LeftOffset() + 100, 200)), 0) << "the picture stays";
}

TEST_F(ChannelWindowLinkTest, FixIsEnabledWithTwoWindowsAndOnlyTheLastFixedOneIsChecked) {
    ASSERT_FALSE(m_real.frame.empty());
    Route(7, 70, m_real.frame);
    ChannelWindow* a = WindowOf(70);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(Action(a, kChannelFix)->isEnabled());
    a->ExecuteCommand(kChannelFix);
    EXPECT_TRUE(m_context.fixCalls.empty());
    EXPECT_EQ(m_port.FixedWindow(), 0u);

    Route(8, 80, m_real.frame);
    ChannelWindow* b = WindowOf(80);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(Action(a, kChannelFix)->isEnabled()) << "refreshed once the second window counts";

    Action(a, kChannelFix)->trigger();
    settle();
    EXPECT_TRUE(Action(a, kChannelFix)->isChecked());
    EXPECT_FALSE(Action(b, kChannelFix)->isChecked());
    Action(b, kChannelFix)->trigger();
    settle();
    EXPECT_FALSE(Action(a, kChannelFix)->isChecked());
    EXPECT_TRUE(Action(b, kChannelFix)->isChecked());
    EXPECT_EQ(m_context.fixCalls, (std::vector<uint64_t>{a->Info().windowId, b->Info().windowId}));

    // Fixing again releases; the button follows the rule, not its own toggle.
    b->ExecuteCommand(kChannelFix);
    settle();
    EXPECT_FALSE(Action(b, kChannelFix)->isChecked());
    EXPECT_EQ(m_port.FixedWindow(), 0u);
}

TEST_F(ChannelWindowLinkTest, CloseAsksUnlessTheSiteStoppedTheChannelAndNeedsThePermission) {
    ASSERT_FALSE(m_real.frame.empty());
    // Without the close permission from the site's channel list the command is disabled.
    Route(7, 70, m_real.frame);
    ChannelWindow* locked = WindowOf(70);
    ASSERT_NE(locked, nullptr);
    EXPECT_FALSE(locked->Info().mayClose);
    EXPECT_FALSE(Action(locked, kChannelClose)->isEnabled());
    locked->ExecuteCommand(kChannelClose);
    EXPECT_TRUE(m_context.dialogs.shown().empty());
    EXPECT_TRUE(m_context.closeCalls.empty());

    ChannelWindow* running = Open(8, true);
    ChannelWindow* stopped = Open(9, true);
    stopped->MarkClosedBySite();

    m_context.dialogs.setNextAnswer(MessageAnswer::No);
    running->ExecuteCommand(kChannelClose);
    ASSERT_EQ(m_context.dialogs.shown().size(), 1u);
    EXPECT_EQ(m_context.dialogs.shown()[0].text,
              QStringLiteral("\n\n Are you sure close local site video channel? \n\n"));
    EXPECT_EQ(m_context.dialogs.shown()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(m_context.dialogs.shown()[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(m_context.closeCalls.empty());

    m_context.dialogs.setNextAnswer(MessageAnswer::Yes);
    running->ExecuteCommand(kChannelClose);
    stopped->ExecuteCommand(kChannelClose);
    EXPECT_EQ(m_context.dialogs.shown().size(), 2u) << "no question for a channel the site stopped";
    EXPECT_EQ(m_context.closeCalls,
              (std::vector<std::pair<uint64_t, bool>>{{running->Info().windowId, true},
                                                      {stopped->Info().windowId, false}}));
}

TEST_F(ChannelWindowLinkTest, TheOperatorsCloseRemovesTheWindowOnceAndItsStreamMakesNoNewOne) {
    ASSERT_FALSE(m_real.frame.empty());
    m_mayClose.force = true;
    Route(7, 70, m_real.frame);
    Route(8, 80, m_real.frame);
    QPointer<ChannelWindow> window = WindowOf(70);
    ASSERT_NE(window, nullptr);
    window->ExecuteCommand(kChannelRecord);
    ASSERT_TRUE(window->IsRecording());
    EXPECT_EQ(m_port.WindowCount(), 2);

    // The connection destroys the window's handle while the window's own
    // command still runs; the widget goes once control returns to the loop.
    m_store.videoArrange = true;
    m_context.dialogs.setNextAnswer(MessageAnswer::Yes);
    Action(window, kChannelClose)->trigger();
    EXPECT_EQ(m_port.WindowCount(), 1);
    EXPECT_EQ(m_port.FindSlotByKey(70)->window, nullptr) << "the slot stays, without a window";
    settle();
    EXPECT_TRUE(window.isNull());
    std::vector<ClipRecord> records;
    m_context.clips.LoadClipRecords(records);
    EXPECT_EQ(records.size(), 1u) << "closing stopped the recording and filed it";

    const int frames = m_port.FrameCount();
    Route(7, 70, m_real.frame);
    EXPECT_EQ(m_port.FrameCount(), frames);
    EXPECT_EQ(m_area->ChannelWindows().size(), 1);
    EXPECT_FALSE(Action(WindowOf(80), kChannelFix)->isEnabled()) << "one window left";
}

TEST_F(ChannelWindowLinkTest, AWindowClosedByTheConnectionDuringTheQuestionIgnoresTheAnswer) {
    ASSERT_FALSE(m_real.frame.empty());
    m_mayClose.force = true;
    Route(7, 70, m_real.frame);
    QPointer<ChannelWindow> window = WindowOf(70);
    ASSERT_NE(window, nullptr);

    // The call drops while the question is open; the operator then answers Yes.
    class EndingLinkDialogs final : public DialogService {
    public:
        explicit EndingLinkDialogs(CommPort& port)
            : m_port(port) {}
        int asked = 0;
        MessageAnswer message(QWidget*, const QString&, MessageButtons, MessageIcon) override {
            ++asked;
            m_port.RemoveChannelWindow(m_port.FindSlotByKey(70), true);
            return MessageAnswer::Yes;
        }
        QString saveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
        QString openFileName(QWidget*, const FileDialogRequest&) override { return {}; }

    private:
        CommPort& m_port;
    } dialogs(m_port);
    m_context.dialogOverride = &dialogs;

    window->ExecuteCommand(kChannelClose);
    EXPECT_EQ(dialogs.asked, 1);
    EXPECT_TRUE(m_context.closeCalls.empty()) << "nothing sent for a window already gone";
    settle();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(m_port.Slots().empty());
}

TEST_F(ChannelWindowLinkTest, HandlesAndWidgetsMayGoInEitherOrder) {
    ASSERT_FALSE(m_real.frame.empty());
    Route(7, 70, m_real.frame);
    Route(8, 80, m_real.frame);
    ChannelWindowHandle* handle = m_port.FindSlotByKey(80)->window.get();
    QPointer<ChannelWindow> window = WindowOf(80);
    ASSERT_NE(window, nullptr);
    window->ExecuteCommand(kChannelRecord);

    // The view area (and every widget in it) goes before the connection.
    m_port.AttachMainWindow(nullptr, nullptr, nullptr);
    m_area.reset();
    EXPECT_TRUE(window.isNull());
    std::vector<ClipRecord> records;
    m_context.clips.LoadClipRecords(records);
    EXPECT_EQ(records.size(), 1u) << "a window destroyed with its parent still files its clip";

    // The handles still in the slots now do nothing, and go quietly.
    EXPECT_FALSE(handle->IsRecording());
    handle->Draw(m_real.decoded);
    handle->DeliverFrame(m_real.frame, m_real.decompressor);
    handle->OnPostedCommand(kChannelSnapshot);
    EXPECT_TRUE(m_context.snapshots.empty());
    m_port.RemoveChannelWindow(m_port.FindSlotByKey(70), true);
    m_port.RemoveChannelWindow(m_port.FindSlotByKey(80), true);
    EXPECT_EQ(m_port.WindowCount(), 0);
}

} // namespace
