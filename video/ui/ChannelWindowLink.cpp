#include "video/ui/ChannelWindowLink.h"

ChannelWindowLink::ChannelWindowLink(ChannelWindow* window)
    : m_window(window) {}

ChannelWindowLink::~ChannelWindowLink() {
    close();
}

void ChannelWindowLink::setStreamFormat(const BitmapInfoHeader& header) {
    if (m_window)
        m_window->setStreamFormat(header);
}

void ChannelWindowLink::sizeForPicture(int width, int height) {
    if (m_window)
        m_window->sizeForPicture(width, height);
}

void ChannelWindowLink::moveOnTop(QPoint topLeft) {
    if (m_window)
        m_window->moveOnTop(topLeft);
}

void ChannelWindowLink::setCell(const QRect& cell) {
    if (m_window)
        m_window->setCell(cell);
}

void ChannelWindowLink::applyBars(bool shown) {
    if (m_window)
        m_window->applyBars(shown);
}

bool ChannelWindowLink::isRecording() const {
    return m_window && m_window->isRecording();
}

void ChannelWindowLink::RecordFrame(std::span<const uint8_t> frame) {
    if (m_window)
        m_window->RecordFrame(frame);
}

void ChannelWindowLink::deliverFrame(std::span<const uint8_t> frame) {
    if (m_window)
        m_window->deliverFrame(frame);
}

void ChannelWindowLink::draw(std::span<const uint8_t> packedDib) {
    if (m_window)
        m_window->draw(packedDib);
}

void ChannelWindowLink::drawPicture(const DrawablePicture& picture) {
    if (m_window)
        m_window->drawPicture(picture);
}

void ChannelWindowLink::markClosedBySite() {
    if (m_window)
        m_window->markClosedBySite();
}

void ChannelWindowLink::onPostedCommand(CommandId command) {
    if (m_window)
        m_window->executeCommand(command);
}

void ChannelWindowLink::close() {
    if (m_window)
        m_window->closeFromLink();
}

void ChannelWindowLink::showFrameAge(std::optional<int> seconds) {
    if (m_window)
        m_window->showFrameAge(seconds);
}
