#pragma once

// A window showing one frozen frame of a live channel. It holds its own copy
// of the channel's frame buffer, decoded once at creation (or, when no
// decompressor fits, the compressed frame as received, which is saved as it
// is but cannot be drawn). The picture is stretched over the whole window;
// the right-click menu saves it as a bitmap file or prints it, centred and
// scaled from screen to printer resolution.
//
// A viewer is a top-level window owned by the window it was opened from (the
// main window), deletes itself when closed, and follows neither its channel
// nor the call: any number can be open.

#include "video/ui/BitmapSaving.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <vector>

class DialogService;
class QAction;
class QPrinter;
class VideoDecompressor;

class StillViewer : public QWidget {
    Q_OBJECT

public:
    // Runs the print dialog for a printer; true when the operator chose OK.
    using PrintDialogRunner = std::function<bool(QPrinter& printer, QWidget* parent)>;

    // A viewer for the frame at the start of `frameBuffer` (all of it is
    // copied), decoded with `decompressor` or with one located for the
    // frame. Nothing, and no window, when the buffer holds no frame.
    static StillViewer* create(std::span<const uint8_t> frameBuffer, VideoDecompressor* decompressor,
                               const QString& title, QWidget* owner, DialogService& dialogs);

    // The channel window's Snapshot command: a viewer titled "%04d name --
    // time", sized to its picture and shown; nothing when the buffer holds
    // no frame yet.
    static StillViewer* showSnapshot(std::span<const uint8_t> frameBuffer, VideoDecompressor* decompressor,
                                     int32_t channel, const std::string& channelName, QWidget* owner,
                                     DialogService& dialogs, std::time_t now = std::time(nullptr));
    // The same for a live channel window: `packedDib` is the picture the
    // window shows (already decoded in its stream's own state) or, before any
    // frame decoded, the frame as received; it is copied and never decoded,
    // since a delta-coded frame decoded alone shows a wrong picture.
    static StillViewer* showSnapshotAsIs(std::span<const uint8_t> packedDib, int32_t channel,
                                         const std::string& channelName, QWidget* owner,
                                         DialogService& dialogs, std::time_t now = std::time(nullptr));
    // "%04d", a blank, the channel name, " -- " and the local time as "%X".
    static QString snapshotTitle(int32_t channel, const std::string& channelName, std::time_t now);

    // Makes the client area the picture's size, keeping the position.
    void sizeToImage();

    // The right-click menu's commands.
    void saveFile();
    void print();
    QAction* saveAction() const { return m_saveAction; }
    QAction* printAction() const { return m_printAction; }

    // The label and time a picture saved as PNG or JPEG carries.
    void setPictureInfo(PictureInfo info) { m_info = std::move(info); }

    // The packed DIB held: decoded, or the compressed frame.
    std::span<const uint8_t> heldImage() const { return m_image; }
    bool decoded() const { return !m_picture.isNull(); }

    // Replaces the print dialog (tests print to a PDF file without one).
    static void setPrintDialogRunner(PrintDialogRunner runner);

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    StillViewer(std::vector<uint8_t> image, const QString& title, QWidget* owner, DialogService& dialogs);

    DialogService& m_dialogs;
    std::vector<uint8_t> m_image;
    QImage m_picture;
    QAction* m_saveAction;
    QAction* m_printAction;
    PictureInfo m_info;
};
