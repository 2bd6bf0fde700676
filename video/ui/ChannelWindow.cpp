#include "video/ui/ChannelWindow.h"

#include "clips/core/ClipRecorder.h"
#include "link/ChannelChoice.h"
#include "link/ChannelControl.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"
#include "video/core/ChannelWindowContext.h"
#include "video/core/DibPainter.h"
#include "video/core/PicturePainter.h"
#include "video/ui/StillViewer.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QLayout>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QToolBar>

namespace {

// Caption and sizing frame, no system menu, no minimise, maximise or close box.
constexpr Qt::WindowFlags kCaptionFlags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
// Without the bars: no caption (Qt's sub-windows drop the frame with it).
constexpr Qt::WindowFlags kBareFlags = Qt::SubWindow | Qt::FramelessWindowHint;

constexpr QPoint kSizeCursorHotSpot{15, 15};

struct Button {
    CommandId command;
    StringId prompt;
    const char* icon;
    bool separatorBefore;
};

// Toolbar order; the index is the action's place in m_actions.
constexpr Button kButtons[] = {
    {CommandId::ChannelRecord, IDS_PROMPT_CHANNEL_RECORD, ":/images/channel_record.png", false},
    {CommandId::ChannelStop, IDS_PROMPT_CHANNEL_STOP, ":/images/channel_stop.png", false},
    {CommandId::ChannelFix, IDS_PROMPT_CHANNEL_FIX, ":/images/channel_fix.png", true},
    {CommandId::ChannelSnapshot, IDS_PROMPT_CHANNEL_SNAPSHOT, ":/images/channel_snapshot.png", true},
    {CommandId::ChannelClose, IDS_PROMPT_CHANNEL_CLOSE, ":/images/channel_close.png", true},
};

} // namespace

// The window's client: toolbar on the left, video right of it. Paints the
// picture and turns mouse input into moving the window and stepping its size.
class ChannelPicture final : public QWidget {
public:
    explicit ChannelPicture(ChannelWindow& window)
        : m_window(window) {
        setObjectName(QStringLiteral("picture"));
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        m_window.paintPicture(painter);
    }
    void resizeEvent(QResizeEvent*) override { m_window.layOutPicture(); }
    void enterEvent(QEnterEvent*) override { m_window.updateCursor(); }

    // A press anywhere on the picture grabs the window as its caption would.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        m_dragging = true;
        m_grab = event->globalPosition().toPoint() - m_window.pos();
        if (QMdiArea* area = m_window.mdiArea())
            area->setActiveSubWindow(&m_window);
        m_window.raise();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        m_window.updateCursor();
        if (m_dragging && (event->buttons() & Qt::LeftButton))
            m_window.move(event->globalPosition().toPoint() - m_grab);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            m_dragging = false;
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && m_window.m_context.sizeChangeMode())
            m_window.stepSizePreset();
    }

private:
    ChannelWindow& m_window;
    bool m_dragging = false;
    QPoint m_grab; // pointer position relative to the window's top-left corner
};

ChannelWindow::ChannelWindow(ChannelWindowContext& context, const ChannelWindowInfo& info, QMdiArea& area)
    : QMdiSubWindow(nullptr, kCaptionFlags)
    , m_context(context)
    , m_info(info)
    , m_recorder(context.createRecorder())
    , m_sizeCursor(QPixmap(QStringLiteral(":/images/size_cursor.png")), kSizeCursorHotSpot.x(),
                   kSizeCursorHotSpot.y()) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(channelLabel(m_info.channel, m_context.channelName(m_info.channel)));
    m_picture = new ChannelPicture(*this);
    setWidget(m_picture);
    buildToolBar();
    area.addSubWindow(this, kCaptionFlags);
    setSystemMenu(nullptr);
    setGeometry(0, 0, 160, 120);

    m_flushTimer.setInterval(kRecordFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] {
        if (m_recorder)
            m_recorder->flushIfDue();
        noteRecordingEnded();
    });

    applyBars(m_context.barsShown());
    updateCommandStates();
    show();
}

ChannelWindow::~ChannelWindow() = default;

int ChannelWindow::presetForWidth(int width) {
    switch (width) {
    case 160:
        return 0;
    case 176:
        return 1;
    case 352:
        return 3;
    case 640:
        return kPresetFullView;
    default:
        return 2;
    }
}

QSize ChannelWindow::presetVideoSize(int preset) {
    static constexpr QSize kSizes[] = {{160, 120}, {176, 144}, {320, 240}, {352, 288}};
    return preset >= 0 && preset < kPresetFullView ? kSizes[preset] : QSize();
}

QWidget* ChannelWindow::picture() const {
    return m_picture;
}

void ChannelWindow::buildToolBar() {
    m_toolBar = new QToolBar(m_picture);
    m_toolBar->setOrientation(Qt::Vertical);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        const Button& button = kButtons[i];
        if (button.separatorBefore)
            m_toolBar->addSeparator();
        const QString prompt = loadString(button.prompt);
        const qsizetype split = prompt.indexOf(QLatin1Char('\n'));
        QAction* action =
            m_toolBar->addAction(QIcon(QString::fromLatin1(button.icon)), prompt.mid(split + 1));
        action->setStatusTip(prompt.left(split));
        action->setCheckable(button.command == CommandId::ChannelFix);
        const CommandId command = button.command;
        connect(action, &QAction::triggered, this, [this, command] { executeCommand(command); });
        m_actions[i] = action;
    }
    m_toolBarSize = m_toolBar->sizeHint();
}

void ChannelWindow::layOutPicture() {
    m_toolBar->setGeometry(0, 0, m_toolBarSize.width(), m_picture->height());
}

QRect ChannelWindow::videoRect() const {
    return QRect(m_leftOffset, 0, m_picture->width() - m_leftOffset, m_picture->height());
}

void ChannelWindow::paintPicture(QPainter& painter) {
    painter.fillRect(m_picture->rect(), Qt::black);
    const QRect video = videoRect();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_frames.withDrawable([&](const DrawablePicture* decoded, std::span<const uint8_t> picture) {
        if (decoded)
            ::drawPicture(painter, video, *decoded);
        else if (!picture.empty())
            drawPackedDib(painter, video, picture);
    });
    if (m_closedBySite) {
        painter.setPen(QColor(255, 0, 0));
        painter.drawText(QRect(m_leftOffset + 5, 5, video.width(), video.height()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, loadString(IDS_CHANNEL_STOPPED));
    }
    if (m_frameAge) {
        // A dark plate in the bottom-right corner: readable on any picture and
        // unlike the red stop mark at the top left.
        const QString text = loadString(IDS_FRAME_AGE).arg(*m_frameAge);
        const QRect plate = painter.fontMetrics().boundingRect(text).adjusted(-4, -2, 4, 2);
        QRect place(QPoint(0, 0), plate.size());
        place.moveBottomRight(video.bottomRight() - QPoint(4, 4));
        painter.fillRect(place, QColor(0, 0, 0, 170));
        painter.setPen(QColor(255, 220, 80));
        painter.drawText(place, Qt::AlignCenter, text);
    }
}

void ChannelWindow::fitInto(const QRect& area) {
    const QMargins frame = contentsMargins();
    const QSize chrome(frame.left() + frame.right() + m_leftOffset, frame.top() + frame.bottom());
    const QSize room = area.size() - chrome;
    if (room.width() <= 0 || room.height() <= 0)
        return;
    // The stream's picture size; a missing or odd header counts as 4:3.
    const int64_t width = m_streamFormat.biWidth;
    const int64_t height =
        m_streamFormat.biHeight < 0 ? -int64_t(m_streamFormat.biHeight) : m_streamFormat.biHeight;
    const QSize picture = width > 0 && height > 0 && width <= 4096 && height <= 4096
                              ? QSize(int(width), int(height))
                              : QSize(4, 3);
    const QSize video = picture.scaled(room, Qt::KeepAspectRatio);
    QRect outer(QPoint(0, 0), video + chrome);
    outer.moveCenter(area.center());
    setGeometry(outer);
}

void ChannelWindow::showFrameAge(std::optional<int> seconds) {
    if (seconds == m_frameAge)
        return;
    m_frameAge = seconds;
    m_picture->update();
}

void ChannelWindow::updateCursor() {
    if (m_context.sizeChangeMode())
        m_picture->setCursor(m_sizeCursor);
    else
        m_picture->unsetCursor();
}

void ChannelWindow::stepSizePreset() {
    applySizePreset((m_preset + 1) % kPresetCount);
}

void ChannelWindow::applySizePreset(int preset) {
    if (preset < 0 || preset >= kPresetCount)
        return;
    m_preset = preset;
    if (preset == kPresetFullView) {
        if (QWidget* view = parentWidget())
            setGeometry(QRect(QPoint(0, 0), view->size()));
        return;
    }
    const QSize video = presetVideoSize(preset);
    const QMargins frame = contentsMargins();
    resize(video.width() + frame.left() + frame.right() + m_leftOffset,
           video.height() + frame.top() + frame.bottom());
}

void ChannelWindow::setStreamFormat(const BitmapInfoHeader& header) {
    m_streamFormat = header;
}

void ChannelWindow::sizeForPicture(int width, int /*height: the preset follows the width*/) {
    applySizePreset(presetForWidth(width));
}

void ChannelWindow::moveOnTop(QPoint topLeft) {
    move(topLeft);
    raise();
}

void ChannelWindow::setCell(const QRect& cell) {
    setGeometry(cell);
}

void ChannelWindow::applyBars(bool shown) {
    m_barsShown = shown;
    const Qt::WindowFlags flags = shown ? kCaptionFlags : kBareFlags;
    if (windowFlags() != flags)
        setWindowFlags(flags);
    m_leftOffset = shown ? m_toolBarSize.width() : 0;
    m_toolBar->setVisible(shown);
    if (layout())
        layout()->activate();
    layOutPicture();
    m_picture->update();
}

bool ChannelWindow::isRecording() const {
    return m_recorder && m_recorder->recording();
}

void ChannelWindow::RecordFrame(std::span<const uint8_t> frame) {
    if (!m_recorder || !m_recorder->recording())
        return;
    m_recorder->RecordFrame(frame);
    noteRecordingEnded();
}

void ChannelWindow::noteRecordingEnded() {
    // A full disk or a record folder that failed ends the recording by
    // itself (the writer reports it later): Record is offered again.
    if (!m_flushTimer.isActive() || !m_recorder || m_recorder->recording())
        return;
    m_flushTimer.stop();
    updateCommandStates();
    emit commandStatesChanged();
}

void ChannelWindow::deliverFrame(std::span<const uint8_t> frame) {
    m_frames.deliver(frame);
    m_frameAge.reset(); // the Draw that follows shows the fresh picture without the mark
}

void ChannelWindow::draw(std::span<const uint8_t> packedDib) {
    m_frames.setPicture(packedDib);
    if (m_picture->isVisible())
        m_picture->repaint(videoRect());
}

void ChannelWindow::drawPicture(const DrawablePicture& picture) {
    m_frames.setPicture(picture);
    if (m_picture->isVisible())
        m_picture->repaint(videoRect());
}

void ChannelWindow::markClosedBySite() {
    m_closedBySite = true;
    m_picture->update();
}

void ChannelWindow::closeFromLink() {
    if (m_closing)
        return;
    StopRecording();
    m_closing = true;
    close();
    emit commandStatesChanged();
}

void ChannelWindow::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        event->ignore(); // only the Close command and the connection close a channel window
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

bool ChannelWindow::isCommandEnabled(CommandId command) const {
    if (m_closing)
        return false;
    switch (command) {
    case CommandId::ChannelRecord:
        return m_recorder && !m_recorder->recording();
    case CommandId::ChannelStop:
        return isRecording();
    case CommandId::ChannelFix:
        return m_context.Control().WindowCount() > 1;
    case CommandId::ChannelClose:
        return m_info.mayClose;
    case CommandId::ChannelSnapshot:
        return true;
    default:
        return false;
    }
}

bool ChannelWindow::isCommandChecked(CommandId command) const {
    return command == CommandId::ChannelFix && m_info.windowId != 0 &&
           m_context.Control().FixedWindow() == m_info.windowId;
}

void ChannelWindow::updateCommandStates() {
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        m_actions[i]->setEnabled(isCommandEnabled(kButtons[i].command));
        m_actions[i]->setChecked(isCommandChecked(kButtons[i].command));
    }
}

void ChannelWindow::executeCommand(CommandId command) {
    if (!isCommandEnabled(command))
        return;
    // The Close question runs a nested event loop in which the connection may
    // close and delete this window.
    const QPointer<ChannelWindow> self(this);
    switch (command) {
    case CommandId::ChannelRecord:
        record();
        break;
    case CommandId::ChannelStop:
        StopRecording();
        break;
    case CommandId::ChannelFix:
        fix();
        break;
    case CommandId::ChannelClose:
        closeByOperator();
        break;
    case CommandId::ChannelSnapshot:
        snapshot();
        break;
    default:
        break;
    }
    if (self)
        updateCommandStates();
}

void ChannelWindow::record() {
    const bool wasRecording = m_recorder->recording();
    m_frames.withFrame([this](std::span<const uint8_t> frame) {
        m_recorder->recordCommand(m_info.channel, m_streamFormat, frame);
    });
    if (m_recorder->recording())
        m_flushTimer.start();
    if (!wasRecording && m_recorder->recording())
        m_context.clipStarted();
}

void ChannelWindow::StopRecording() {
    m_flushTimer.stop();
    if (m_recorder)
        m_recorder->StopRecording();
}

void ChannelWindow::fix() {
    m_context.Control().FixWindow(m_info.windowId);
    emit commandStatesChanged();
}

void ChannelWindow::closeByOperator() {
    if (!m_closedBySite) {
        const QPointer<ChannelWindow> self(this);
        const MessageAnswer answer = m_context.dialogs().message(
            this, loadString(IDP_CLOSE_CHANNEL), MessageButtons::YesNo, MessageIcon::Exclamation);
        if (!self || m_closing || answer != MessageAnswer::Yes)
            return;
    }
    // A site that stopped the stream (even while the question was open) is not told again.
    m_context.Control().CloseWindow(m_info.windowId, !m_closedBySite);
}

void ChannelWindow::snapshot() {
    // The picture the window shows, copied; before any frame decoded, the
    // newest frame as received (saved as it is). Never a fresh decode: a delta
    // frame decoded alone shows a wrong picture. Without a frame nothing appears.
    const std::vector<uint8_t> shown = m_frames.withPicture(
        [](std::span<const uint8_t> p) { return std::vector<uint8_t>(p.begin(), p.end()); });
    const auto show = [this](std::span<const uint8_t> image) {
        StillViewer::showSnapshotAsIs(image, m_info.channel, m_context.channelName(m_info.channel), mdiArea(),
                                      m_context.dialogs());
    };
    if (!shown.empty())
        show(shown);
    else
        m_frames.withFrame(show);
}
