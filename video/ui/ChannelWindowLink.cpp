#include "video/ui/ChannelWindowLink.h"

ChannelWindowLink::ChannelWindowLink(ChannelWindow* window)
    : m_window(window) {}

ChannelWindowLink::~ChannelWindowLink() {
    Close();
}

void ChannelWindowLink::SetStreamFormat(const BitmapInfoHeader& header) {
    if (m_window)
        m_window->SetStreamFormat(header);
}

void ChannelWindowLink::SizeForPicture(int width, int height) {
    if (m_window)
        m_window->SizeForPicture(width, height);
}

void ChannelWindowLink::MoveOnTop(QPoint topLeft) {
    if (m_window)
        m_window->MoveOnTop(topLeft);
}

void ChannelWindowLink::SetCell(const QRect& cell) {
    if (m_window)
        m_window->SetCell(cell);
}

void ChannelWindowLink::ApplyBars(bool shown) {
    if (m_window)
        m_window->ApplyBars(shown);
}

bool ChannelWindowLink::IsRecording() const {
    return m_window && m_window->IsRecording();
}

void ChannelWindowLink::RecordFrame(std::span<const uint8_t> frame) {
    if (m_window)
        m_window->RecordFrame(frame);
}

void ChannelWindowLink::DeliverFrame(std::span<const uint8_t> frame) {
    if (m_window)
        m_window->DeliverFrame(frame);
}

void ChannelWindowLink::Draw(std::span<const uint8_t> packedDib) {
    if (m_window)
        m_window->Draw(packedDib);
}

void ChannelWindowLink::DrawPicture(const DrawablePicture& picture) {
    if (m_window)
        m_window->DrawPicture(picture);
}

void ChannelWindowLink::MarkClosedBySite() {
    if (m_window)
        m_window->MarkClosedBySite();
}

void ChannelWindowLink::OnPostedCommand(CommandId command) {
    if (m_window)
        m_window->ExecuteCommand(command);
}

void ChannelWindowLink::Close() {
    if (m_window)
        m_window->CloseFromLink();
}

void ChannelWindowLink::ShowFrameAge(std::optional<int> seconds) {
    if (m_window)
        m_window->ShowFrameAge(seconds);
}
