#pragma once

// The connection's handle on one channel window. The connection's slot owns
// the handle while the Qt object tree owns the widget, so the handle only
// watches the widget: calls after the widget is gone do nothing, and closing
// goes through ChannelWindow::closeFromLink, which deletes the widget later.
// That makes either order safe: the operator's Close command (which ends in
// the connection destroying this handle while the window's own handler still
// runs) and the connection ending (which closes every window).

#include "link/LinkInterfaces.h"
#include "video/ui/ChannelWindow.h"

#include <QPointer>

class ChannelWindowLink final : public ChannelWindowHandle {
public:
    explicit ChannelWindowLink(ChannelWindow* window);
    // Closes a window that is still open.
    ~ChannelWindowLink() override;
    ChannelWindowLink(const ChannelWindowLink&) = delete;
    ChannelWindowLink& operator=(const ChannelWindowLink&) = delete;

    ChannelWindow* window() const { return m_window; }

    void setStreamFormat(const BitmapInfoHeader& header) override;
    void sizeForPicture(int width, int height) override;
    void moveOnTop(QPoint topLeft) override;
    void setCell(const QRect& cell) override;
    void applyBars(bool shown) override;
    bool isRecording() const override;
    void RecordFrame(std::span<const uint8_t> frame) override;
    void deliverFrame(std::span<const uint8_t> frame) override;
    void draw(std::span<const uint8_t> packedDib) override;
    void drawPicture(const DrawablePicture& picture) override;
    void markClosedBySite() override;
    void onPostedCommand(CommandId command) override;
    void close() override;
    void showFrameAge(std::optional<int> seconds) override;

private:
    QPointer<ChannelWindow> m_window;
};
