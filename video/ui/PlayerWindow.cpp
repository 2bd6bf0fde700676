#include "video/ui/PlayerWindow.h"

#include "app/core/WireText.h"
#include "clips/core/ClipExportPlan.h"
#include "platform/dialogs/DialogService.h"
#include "platform/export/ExportRunner.h"
#include "res/StringTable.h"
#include "video/core/PlayerTables.h"
#include "video/ui/BitmapSaving.h"
#include "video/ui/PlayerBar.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSlider>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <sys/stat.h>

namespace {

struct ButtonInfo {
    CommandId id;
    const char* icon;
    const char* prompt; // status prompt, then tooltip after "\n"
};

// In toolbar order; a separator follows Stop, Last frame and Decrease.
constexpr ButtonInfo kButtons[] = {
    {CommandId::PlayerPlay, "player_play", "Play\nPlay"},
    {CommandId::PlayerPause, "player_pause", "Pause\nPause"},
    {CommandId::PlayerStop, "player_stop", "Stop\nStop"},
    {CommandId::PlayerFirstFrame, "player_first", "Frist frame\nGo top"},
    {CommandId::PlayerRewind, "player_rewind", "Rewind\nRewind"},
    {CommandId::PlayerForward, "player_forward", "Forward\nForward"},
    {CommandId::PlayerLastFrame, "player_last", "Last frame\nGo bottom"},
    {CommandId::PlayerIncrease, "player_increase", "Increase video window\nIncrease"},
    {CommandId::PlayerDecrease, "player_decrease", "Decrease video window\nDecrease"},
    {CommandId::PlayerSnapshot, "player_snapshot", "Snapshot\nSnapshot"},
};

const QColor kWheat(245, 222, 179);
const QColor kBeige(245, 245, 220);
const QColor kTeal(0, 128, 128);

// The window background: a 9 x 8 teal and black tile.
QBrush tealPattern() {
    QImage tile(9, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x)
            tile.setPixel(x, y, (x + y) % 3 == 0 ? qRgb(0, 0, 0) : qRgb(0, 128, 128));
    return QBrush(QPixmap::fromImage(tile));
}

// Paints the player's current picture, stretched over the area.
class VideoArea : public QWidget {
public:
    VideoArea(QWidget* parent, const MediaPlayer& player)
        : QWidget(parent)
        , m_player(player) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const VideoImage& image = m_player.image();
        if (!m_player.isOpen() || image.pixels.empty()) {
            painter.fillRect(rect(), Qt::black);
            return;
        }
        const QImage picture(image.pixels.data(), image.width, image.height, image.stride,
                             QImage::Format_RGB32);
        painter.drawImage(rect(), picture);
    }

private:
    const MediaPlayer& m_player;
};

} // namespace

PlayerWindow::PlayerWindow(QWidget* parent, DialogService& dialogs, MediaPlayer::Clock clock)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
    , m_dialogs(dialogs)
    , m_player(std::move(clock))
    , m_video(new VideoArea(this, m_player))
    , m_toolBar(new QToolBar(this))
    , m_bar(new PlayerBar(this))
    , m_playbackTimer(new QTimer(this))
    , m_frameTimer(new QTimer(this))
    , m_exportAction(new QAction(tr("Export..."), this))
    , m_sizeIndex(player::kDefaultSize)
    , m_speedIndex(player::kDefaultSpeed) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(loadString(IDS_VIDEO_CLIPS));
    setWindowIcon(QIcon(QStringLiteral(":/images/player.png")));
    QPalette background = palette();
    background.setBrush(QPalette::Window, tealPattern());
    setPalette(background);
    setAutoFillBackground(true);

    // The bars keep the ordinary window colours over the patterned background.
    for (QWidget* bar : {static_cast<QWidget*>(m_toolBar), static_cast<QWidget*>(m_bar)}) {
        QPalette plain = bar->palette();
        plain.setColor(QPalette::Window, QApplication::palette().color(QPalette::Window));
        bar->setPalette(plain);
        bar->setAutoFillBackground(true);
    }
    m_toolBar->setIconSize(QSize(24, 24));
    m_toolBar->setMovable(false);
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        const ButtonInfo& b = kButtons[i];
        const QStringList texts = QString::fromLatin1(b.prompt).split(QLatin1Char('\n'));
        auto* action =
            new QAction(QIcon(QStringLiteral(":/images/%1.png").arg(QLatin1String(b.icon))), texts[1], this);
        action->setStatusTip(texts[0]);
        action->setToolTip(texts[1]);
        connect(action, &QAction::triggered, this, [this, id = b.id] { command(id); });
        m_toolBar->addAction(action);
        m_actions[i] = action;
        if (b.id == CommandId::PlayerStop || b.id == CommandId::PlayerLastFrame ||
            b.id == CommandId::PlayerDecrease)
            m_toolBar->addSeparator();
    }

    connect(m_exportAction, &QAction::triggered, this, [this] { command(CommandId::PlayerExportClip); });

    connect(m_bar, &PlayerBar::positionScrolled, this, &PlayerWindow::positionScroll);
    connect(m_bar, &PlayerBar::speedScrolled, this, &PlayerWindow::speedScroll);
    m_playbackTimer->setInterval(kPlaybackTimerMs);
    connect(m_playbackTimer, &QTimer::timeout, this, &PlayerWindow::playbackTick);
    m_frameTimer->setSingleShot(true);
    connect(m_frameTimer, &QTimer::timeout, this, &PlayerWindow::showNextFrame);

    const QFontMetrics metrics = fontMetrics();
    m_lineHeight = metrics.height() + metrics.leading() + 2;
    m_toolBar->adjustSize();
    m_bar->adjustSize();
    layoutFor(m_sizeIndex);
    refreshLabels();
}

PlayerWindow::~PlayerWindow() = default;

QAction* PlayerWindow::action(CommandId id) const {
    for (size_t i = 0; i < std::size(kButtons); ++i)
        if (kButtons[i].id == id)
            return m_actions[i];
    return nullptr;
}

bool PlayerWindow::Open(const ClipRecord& record) {
    m_playbackTimer->stop();
    m_frameTimer->stop();
    m_player.close();

    m_record = record;
    const player::HeaderTexts header = player::headerFor(record);
    m_line1 = WireText::toDisplay(header.line1);
    m_startText = QString::fromStdString(header.start);
    m_endText = QString::fromStdString(header.end);

    const std::string path = record.Path + record.FileName;
    struct stat st;
    const int64_t length = ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : 0;
    setWindowTitle(QString::fromStdString(player::clipTitle(record.FileName, length)));
    show();

    if (!m_player.open(path)) {
        m_bar->setEnabled(false);
        update();
        m_dialogs.notice(this, loadString(IDP_OPEN_FILE_ERROR));
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }
    m_sizeIndex = player::kDefaultSize;
    layoutFor(m_sizeIndex);
    m_player.setRate(player::kSpeeds[size_t(m_speedIndex)].rate);
    m_bar->positionSlider()->setRange(0, int(int32_t(m_player.totalFrames())));
    m_bar->positionSlider()->setValue(0);
    m_bar->speedSlider()->setValue(m_speedIndex);
    m_bar->setEnabled(true);
    refreshInfo();
    refreshLabels();
    play();
    return true;
}

void PlayerWindow::command(CommandId id) {
    switch (id) {
    case CommandId::PlayerPlay:
        play();
        break;
    case CommandId::PlayerPause:
        pause();
        break;
    case CommandId::PlayerStop:
        stop();
        break;
    case CommandId::PlayerFirstFrame:
        seekTo(0);
        break;
    case CommandId::PlayerRewind:
    case CommandId::PlayerForward:
        if (m_player.isOpen()) {
            pause();
            const int64_t current = m_player.currentFrame();
            seekTo(id == CommandId::PlayerRewind ? player::rewindTarget(current)
                                                 : player::forwardTarget(current, m_player.totalFrames()));
        }
        break;
    case CommandId::PlayerLastFrame:
        seekTo(m_player.totalFrames());
        break;
    case CommandId::PlayerIncrease:
        layoutFor(std::min(m_sizeIndex + 1, int(player::kSizes.size()) - 1));
        break;
    case CommandId::PlayerDecrease:
        layoutFor(std::max(m_sizeIndex - 1, 0));
        break;
    case CommandId::PlayerSnapshot:
        snapshot();
        break;
    case CommandId::PlayerExportClip:
        exportClip();
        break;
    default:
        break;
    }
}

void PlayerWindow::play() {
    if (!m_player.isOpen() || m_player.state() == PlayState::Running)
        return;
    if (m_player.currentFrame() == m_player.totalFrames())
        seekTo(0);
    if (m_player.run()) {
        m_playbackTimer->start();
        scheduleFrame();
    }
}

void PlayerWindow::pause() {
    if (m_player.isOpen() && m_player.state() != PlayState::Paused && m_player.pause()) {
        m_playbackTimer->stop();
        m_frameTimer->stop();
    }
    refreshInfo();
}

void PlayerWindow::stop() {
    if (m_player.isOpen() && m_player.state() != PlayState::Stopped && m_player.stop()) {
        m_playbackTimer->stop();
        m_frameTimer->stop();
    }
    refreshInfo();
}

// Pauses, then moves to the frame; nothing while no clip is open.
void PlayerWindow::seekTo(int64_t frame) {
    if (!m_player.isOpen())
        return;
    pause();
    m_player.seek(frame);
    m_video->update();
    refreshInfo();
}

void PlayerWindow::seekFromSlider(int64_t target) {
    if (!m_player.isOpen())
        return;
    pause();
    if (!player::seekMoves(target, m_player.currentFrame(), m_player.totalFrames()))
        return;
    seekTo(target);
}

void PlayerWindow::positionScroll(int code, int position) {
    if (const auto target =
            player::positionScrollTarget(code, m_bar->positionSlider()->sliderPosition(), position))
        seekFromSlider(*target);
}

void PlayerWindow::speedScroll(int code, int position) {
    m_speedIndex = player::speedAfterScroll(m_speedIndex, code, position);
    if (m_player.isOpen())
        m_player.setRate(player::kSpeeds[size_t(m_speedIndex)].rate);
    refreshLabels();
    m_bar->speedSlider()->setSliderPosition(m_speedIndex);
    scheduleFrame();
}

void PlayerWindow::playbackTick() {
    if (!m_player.isOpen() || m_player.state() != PlayState::Running)
        return;
    if (m_player.tick())
        m_video->update();
    refreshInfo();
    if (const auto event = m_player.takeEvent()) {
        if (*event == MediaEvent::Complete || *event == MediaEvent::ErrorAbort)
            stop();
    } else if (m_player.currentFrame() == m_player.totalFrames()) {
        stop();
    }
}

void PlayerWindow::showNextFrame() {
    if (m_player.tick())
        m_video->update();
    scheduleFrame();
}

void PlayerWindow::scheduleFrame() {
    const auto wait = m_player.timeToNextFrame();
    if (!wait) {
        m_frameTimer->stop();
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*wait).count();
    m_frameTimer->start(int(std::clamp<int64_t>(ms, 1, kPlaybackTimerMs)));
}

bool PlayerWindow::playbackTimerActive() const {
    return m_playbackTimer->isActive();
}

void PlayerWindow::snapshot() {
    if (!m_player.isOpen())
        return;
    pause();
    if (const auto image = m_player.currentImage()) {
        PictureInfo info;
        info.label = WireText::toDisplay(player::headerFor(m_record).line1);
        if (const auto start = clipStartMs(m_record))
            info.time = QDateTime::fromMSecsSinceEpoch(
                *start + int64_t(double(m_player.currentFrame()) * m_player.averageTimePerFrame() * 1000.0));
        saveBitmapInteractive(this, m_dialogs, *image, info);
    }
}

void PlayerWindow::exportClip() {
    if (m_record.FileName.empty())
        return;
    pause();
    exportClipsInteractive(this, m_dialogs,
                           exportPlanForClips({&m_record}, player::headerFor(m_record).line1));
}

void PlayerWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(m_exportAction);
    menu.exec(event->globalPos());
}

void PlayerWindow::layoutFor(int sizeIndex) {
    m_sizeIndex = sizeIndex;
    const player::VideoSize size = player::kSizes[size_t(sizeIndex)];
    const int toolWidth = m_toolBar->sizeHint().width();
    const int toolHeight = m_toolBar->sizeHint().height();
    const int barWidth = m_bar->sizeHint().width();
    const int barHeight = m_bar->sizeHint().height();
    const int width = std::max({toolWidth, size.width, barWidth});
    const int height = 3 * m_lineHeight + size.height + toolHeight + barHeight;
    setFixedSize(width, height);

    m_video->setGeometry((width - size.width) / 2, 2 * m_lineHeight, size.width, size.height);
    m_player.setOutputSize(size.width, size.height);
    m_bar->setGeometry(0, height - toolHeight - barHeight, width, barHeight);
    m_toolBar->setGeometry(0, height - toolHeight, width, toolHeight);
    update();
}

QRect PlayerWindow::videoRect() const {
    return m_video->geometry();
}

QRect PlayerWindow::infoRect() const {
    return QRect(0, m_bar->y() - m_lineHeight, width(), m_lineHeight);
}

QStringList PlayerWindow::headerTexts() const {
    return {m_line1, m_startText + QStringLiteral("  -  ") + m_endText};
}

void PlayerWindow::refreshInfo() {
    if (!m_player.isOpen())
        return;
    const int64_t current = m_player.currentFrame();
    m_info = QString::fromStdString(player::infoLine(current, m_player.totalFrames(),
                                                     m_player.currentSeconds(), m_player.durationSeconds()));
    if (!m_bar->positionSlider()->isSliderDown())
        m_bar->positionSlider()->setValue(int(int32_t(current)));
    update(infoRect());
}

void PlayerWindow::refreshLabels() {
    m_bar->speedLabel()->setText(QString::fromLatin1(player::kSpeeds[size_t(m_speedIndex)].label));
    m_bar->rateLabel()->setText(QString::fromStdString(player::rateLabel(m_player.averageTimePerFrame())));
}

void PlayerWindow::paintEvent(QPaintEvent*) {
    if (!m_player.isOpen())
        return;
    QPainter painter(this);
    const int w = width();
    const int lh = m_lineHeight;
    painter.fillRect(0, 0, w, 2 * lh, kWheat);

    const QRect line1(0, 0, w, lh);
    QRect text1 = painter.fontMetrics().boundingRect(line1, Qt::AlignCenter, m_line1);
    painter.fillRect(text1, QColor(224, 224, 224));
    painter.setPen(QColor(0, 0, 240));
    painter.drawText(line1, Qt::AlignCenter, m_line1);
    painter.setPen(kTeal);
    painter.drawText(QRect(0, lh, w, lh), Qt::AlignCenter, headerTexts()[1]);

    const QRect info = infoRect();
    painter.fillRect(info, kBeige);
    painter.drawText(info, Qt::AlignCenter, m_info);
}
