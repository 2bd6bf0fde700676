#pragma once

// The live window of one video channel, inside the main window's view area.
//
// How it works: a QMdiSubWindow (caption and sizing frame, no system menu and
// no close box) whose client is the picture: a vertical toolbar at its left
// edge (Record, Stop, Fix, Snapshot, Close) and the video stretched over the
// rest. The connection hands each frame over twice: DeliverFrame keeps a copy
// in the frame buffer (under the frame lock) for the start of a recording;
// Draw shows the picture the connection decoded in this stream's own decoder
// state and keeps it. Repaints and snapshots use that picture and never decode
// (decoding a delta-coded frame twice, or alone, would show a wrong picture).
//
// Commands are carried out only when their enable rule allows it at the
// moment they arrive, whether from the toolbar or posted by the connection.
// The window's own state (recording) and the connection's (window count,
// fixed window) feed those rules; the toolbar shows them after every change
// the window knows of (CommandStatesChanged asks the view area to refresh all
// windows).
//
// Lifetime: the connection holds a ChannelWindowLink for each window, the Qt
// object tree owns the widget. Only CloseFromLink closes the window (it stops
// a recording first and deletes the widget later, so it may run inside one of
// the window's own handlers); any other close request is refused.

#include "link/LinkInterfaces.h"
#include "video/core/ChannelFrameBuffer.h"

#include <QCursor>
#include <QMdiSubWindow>
#include <QPoint>
#include <QSize>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

class ChannelPicture;
class ChannelWindowContext;
class ClipRecorder;
class QAction;
class QMdiArea;
class QToolBar;

class ChannelWindow final : public QMdiSubWindow {
    Q_OBJECT

public:
    static constexpr int kPresetCount = 5;
    // The preset that fills the whole view area.
    static constexpr int kPresetFullView = 4;
    // How often a running recording brings its file on disk up to date.
    static constexpr int kRecordFlushMs = 1000;

    // Adds itself to `area` at (0, 0), 160 x 120, and shows itself once its
    // title, toolbar and the main window's bars are applied. The area owns it.
    ChannelWindow(ChannelWindowContext& context, const ChannelWindowInfo& info, QMdiArea& area);
    ~ChannelWindow() override;

    // Size presets: the preset for a picture width (160 -> 0, 176 -> 1,
    // 352 -> 3, 640 -> 4, anything else 2), and the video area of presets 0..3.
    static int presetForWidth(int width);
    static QSize presetVideoSize(int preset);

    const ChannelWindowInfo& info() const { return m_info; }
    int sizePreset() const { return m_preset; }
    // Applies a preset: presets 0..3 resize the window (position kept) so that
    // the video area right of the toolbar has the preset's size; preset 4
    // moves it to (0, 0) and sizes it to the whole view area.
    void applySizePreset(int preset);
    // Width of the toolbar while the bars are shown, else 0; the video starts there.
    int leftOffset() const { return m_leftOffset; }
    bool barsShown() const { return m_barsShown; }
    bool isClosedBySite() const { return m_closedBySite; }
    const BitmapInfoHeader& streamFormat() const { return m_streamFormat; }

    // Operations of the connection (see ChannelWindowHandle).
    void setStreamFormat(const BitmapInfoHeader& header);
    void sizeForPicture(int width, int height);
    void moveOnTop(QPoint topLeft);
    void setCell(const QRect& cell);
    void applyBars(bool shown);
    bool isRecording() const;
    void RecordFrame(std::span<const uint8_t> frame);
    void deliverFrame(std::span<const uint8_t> frame);
    void draw(std::span<const uint8_t> packedDib);
    void drawPicture(const DrawablePicture& picture);
    void markClosedBySite();
    // The old-picture mark ("last frame N s ago", bottom right of the
    // picture): shown with `seconds`, removed with nothing and by the next frame.
    void showFrameAge(std::optional<int> seconds);
    // Scales the window so that its picture, aspect kept, is as large as
    // fits in `area` (view-area coordinates), centred there.
    void fitInto(const QRect& area);
    std::optional<int> frameAgeShown() const { return m_frameAge; }
    // Stops a recording and closes the window; the widget is deleted later.
    void closeFromLink();

    // Carries out a command if it is enabled now; unknown commands are ignored.
    void executeCommand(CommandId command);
    bool isCommandEnabled(CommandId command) const;
    bool isCommandChecked(CommandId command) const;
    // Shows the enable and check rules on the toolbar.
    void updateCommandStates();

    QToolBar* toolBar() const { return m_toolBar; }
    QWidget* picture() const;

signals:
    // Something that other windows' command states depend on changed.
    void commandStatesChanged();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class ChannelPicture;

    void buildToolBar();
    void layOutPicture();
    QRect videoRect() const;
    void paintPicture(QPainter& painter);
    void updateCursor();
    void stepSizePreset();

    void record();
    void StopRecording();
    void noteRecordingEnded();
    void fix();
    void closeByOperator();
    void snapshot();

    ChannelWindowContext& m_context;
    const ChannelWindowInfo m_info;
    ChannelFrameBuffer m_frames;
    BitmapInfoHeader m_streamFormat;
    std::unique_ptr<ClipRecorder> m_recorder;
    QTimer m_flushTimer;

    ChannelPicture* m_picture = nullptr;
    QToolBar* m_toolBar = nullptr;
    std::array<QAction*, 5> m_actions{};
    QSize m_toolBarSize;
    int m_leftOffset = 0;
    bool m_barsShown = true;
    QCursor m_sizeCursor;

    int m_preset = 2;
    bool m_closedBySite = false;
    std::optional<int> m_frameAge;
    bool m_closing = false;
};
