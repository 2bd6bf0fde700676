#pragma once

// Plays back one recorded clip with VCR controls: a header band with the
// channel and the start and end time, the video area (one of five sizes,
// centred), an information line with frame and time counters, a toolbar with
// the ten commands and the PlayerBar with the position and speed sliders.
//
// How it works: a MediaPlayer decodes the clip; the window drives it. While
// running, a 200 ms timer refreshes the information line and the position
// slider and fetches the player's events (end of clip, error), and a frame
// timer shows each picture when it is due. Positions are frames, 0 to the
// total; the total is the end of the clip. The window is a top-level window
// owned by the dialog that opened it (closed with it), deletes itself when
// closed, and shares nothing with other players.
//
// A clip that cannot be opened is reported ("Open file error!") and the
// player closes itself. The right-click menu exports the clip; snapshots
// carry the channel label and the frame's time when saved as PNG or JPEG.

#include "clips/core/ClipIndex.h"
#include "platform/media/MediaPlayer.h"
#include "res/CommandId.h"

#include <QWidget>

#include <array>

class DialogService;
class PlayerBar;
class QAction;
class QTimer;
class QToolBar;

class PlayerWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kPlaybackTimerMs = 200;

    // A hidden player owned by `parent` (a dialog); Open shows it. The clock
    // drives playback (tests pass their own).
    PlayerWindow(QWidget* parent, DialogService& dialogs, MediaPlayer::Clock clock = {});
    ~PlayerWindow() override;

    // Shows the clip's header, opens Path + FileName and plays it. False,
    // after the open error was shown and the window's close was posted, when
    // the clip cannot be opened.
    bool Open(const ClipRecord& record);

    // Carries out a player command (PlayerPlay ... PlayerSnapshot, and
    // PlayerExportClip from the right-click menu); all are always enabled.
    void command(CommandId id);
    QAction* action(CommandId id) const;
    QAction* exportAction() const { return m_exportAction; }

    // The PlayerBar's sliders, by track-bar code.
    void positionScroll(int code, int position);
    void speedScroll(int code, int position);

    // One tick of the 200 ms playback timer.
    void playbackTick();

    PlayState state() const { return m_player.state(); }
    int sizeIndex() const { return m_sizeIndex; }
    int speedIndex() const { return m_speedIndex; }
    int64_t currentFrame() const { return m_player.isOpen() ? m_player.currentFrame() : 0; }
    int64_t totalFrames() const { return m_player.totalFrames(); }
    double rate() const { return m_player.rate(); }
    bool playbackTimerActive() const;
    QString infoText() const { return m_info; }
    QStringList headerTexts() const;
    QRect videoRect() const;
    PlayerBar* bar() const { return m_bar; }
    QToolBar* toolBar() const { return m_toolBar; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void play();
    void pause();
    void stop();
    void seekTo(int64_t frame);
    void seekFromSlider(int64_t target);
    void layoutFor(int sizeIndex);
    void refreshInfo();
    void refreshLabels();
    void showNextFrame();
    void scheduleFrame();
    void snapshot();
    void exportClip();
    QRect infoRect() const;

    DialogService& m_dialogs;
    MediaPlayer m_player;
    QWidget* m_video;
    QToolBar* m_toolBar;
    PlayerBar* m_bar;
    QTimer* m_playbackTimer;
    QTimer* m_frameTimer;
    std::array<QAction*, 10> m_actions{};
    QAction* m_exportAction;
    ClipRecord m_record;

    int m_sizeIndex;
    int m_speedIndex;
    int m_lineHeight = 0;
    QString m_line1;
    QString m_startText;
    QString m_endText;
    QString m_info;
};
