#pragma once

// What the connection needs from the rest of the program, as small interfaces
// the main window and the application implement (and tests back with doubles).
//
// Threading contract: every method here is called on the user-interface thread
// (the thread that owns the CommPort and runs its connection timer), never on
// the serial threads. Posted commands (OnPostedCommand) are always delivered
// later from that thread's event loop, never from inside packet parsing, and
// the receiver decides then whether the command is enabled. No method may call
// back into the CommPort's packet parsing; ChannelWindowHandle::close must not
// call CommPort::RemoveChannelWindow (the CommPort is already removing it).

#include "link/Protocol.h"
#include "platform/codec/VideoDecompressor.h"
#include "platform/dib/PackedDib.h"
#include "res/CommandId.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

// What a new channel window is created with. `windowId` is unique for the life
// of the process and never reused, so a stale id can never reach a new window.
struct ChannelWindowInfo {
    int32_t channel = 0;
    int32_t streamKey = 0;
    bool mayClose = false;
    uint64_t windowId = 0;
};

// One live channel window, owned by its slot in the CommPort's channel window
// list from creation until close() (after which the handle is destroyed).
class ChannelWindowHandle {
public:
    virtual ~ChannelWindowHandle() = default;

    // The 40-byte header of the frame that created the window (the stream
    // format its recordings use).
    virtual void setStreamFormat(const BitmapInfoHeader& header) = 0;
    // Sizes the window for a picture of this size (it picks its size preset).
    virtual void sizeForPicture(int width, int height) = 0;
    // Moves to `topLeft` in the view area without resizing, on top of its siblings.
    virtual void moveOnTop(QPoint topLeft) = 0;
    // Moves and resizes the outer frame to `cell`, keeping the sibling order.
    virtual void setCell(const QRect& cell) = 0;
    // Shows or hides caption and toolbar with the main window's bars.
    virtual void applyBars(bool shown) = 0;

    virtual bool isRecording() const = 0;
    // Hands a received frame (a packed DIB, exactly as received) to the recorder.
    virtual void RecordFrame(std::span<const uint8_t> frame) = 0;
    // Keeps a copy of the newest frame as received (what a recording starts with).
    virtual void deliverFrame(std::span<const uint8_t> frame) = 0;
    // Shows this picture at once and keeps it as the window's picture:
    // repaints and snapshots use it and never decode again. Called only with a
    // picture decoded in this window's own stream (or an uncompressed frame
    // its decompressor could not read); an undecodable frame is not drawn, so
    // the last picture stays on screen.
    virtual void draw(std::span<const uint8_t> packedDib) = 0;
    // The same for a decoded picture in its decoder's layout, drawn without
    // converting it; by default it is drawn as its packed DIB.
    virtual void drawPicture(const DrawablePicture& picture) {
        if (picture.layout() == DrawablePicture::Layout::PackedDib)
            draw(picture.packedBytes());
        else
            draw(picture.packedDib());
    }
    // The site stopped this stream: set the mark and repaint.
    virtual void markClosedBySite() = 0;
    // A command posted to the window (ChannelRecord, ChannelSnapshot); runs
    // only if enabled now.
    virtual void onPostedCommand(CommandId command) = 0;
    // Close request: stop recording, then the window goes away.
    virtual void close() = 0;
    // Marks the picture as `seconds` old, or removes the mark (nothing). The
    // next frame removes it too.
    virtual void showFrameAge(std::optional<int> seconds) { (void)seconds; }
};

// The main window's view area, parent of every channel window.
class ViewArea {
public:
    virtual ~ViewArea() = default;
    virtual QSize clientSize() const = 0;
    // Creates a hidden-then-shown channel window as a child of the view area;
    // nothing when it cannot be created.
    virtual std::unique_ptr<ChannelWindowHandle> CreateChannelWindow(const ChannelWindowInfo& info) = 0;
};

// The one-line link status strip of the main window.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    virtual void SetStatusText(const QString& text) = 0;
};

// The main window as the connection sees it.
class MainWindowCommands {
public:
    virtual ~MainWindowCommands() = default;
    // A posted command (hangUp, OpenChannel, LoginError, CompressionError),
    // carried out only when its enable rule allows it at this moment.
    virtual void onPostedCommand(CommandId command) = 0;
    virtual bool isMaximized() const = 0;
    virtual void maximize() = 0;
    // The "Toolbar" setting: whether bars (and channel window captions) show.
    virtual bool barsShown() const = 0;
    // Plays the alarm looped unless it already plays.
    virtual void startAlarm() = 0;
};

// The application's stored values the connection reads and the event store it
// files site records in.
class ConnectionStore {
public:
    virtual ~ConnectionStore() = default;
    // The "Call" values User, PassWord, FormatSize and Quality.
    virtual LoginValues loginValues() const = 0;
    // The "VideoArrange" setting; a missing value counts as on.
    virtual bool videoArrangeOn() const = 0;
    // Files a site record as a new event under the current local time.
    virtual bool AddEventRecord(const std::array<uint8_t, Wire::kSiteRecordSize>& record) = 0;
};

// Where the connection gets its video decompressor from.
class DecompressorFactory {
public:
    virtual ~DecompressorFactory() = default;
    // The decompressor for a handler code ("iv50"), or nothing.
    virtual std::unique_ptr<VideoDecompressor> Open(std::string_view handler) = 0;
    // Any decompressor that can decompress frames with this header, or nothing.
    virtual std::unique_ptr<VideoDecompressor> locate(const BitmapInfoHeader& header) = 0;
};
