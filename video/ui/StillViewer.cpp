#include "video/ui/StillViewer.h"

#include "app/core/WireText.h"
#include "platform/codec/VideoDecompressor.h"
#include "platform/dib/PackedDib.h"
#include "video/core/PrintPlacement.h"
#include "video/ui/BitmapSaving.h"
#include "video/ui/DibImage.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <memory>

namespace {

StillViewer::PrintDialogRunner& printDialogRunner() {
    static StillViewer::PrintDialogRunner runner = [](QPrinter& printer, QWidget* parent) {
        QPrintDialog dialog(&printer, parent);
        dialog.setOptions({});
        return dialog.exec() == QDialog::Accepted;
    };
    return runner;
}

} // namespace

StillViewer* StillViewer::create(std::span<const uint8_t> frameBuffer, VideoDecompressor* decompressor,
                                 const QString& title, QWidget* owner, DialogService& dialogs) {
    const auto header = BitmapInfoHeader::parse(frameBuffer);
    if (!header || header->biSize != BitmapInfoHeader::kSize)
        return nullptr;
    std::vector<uint8_t> image(frameBuffer.begin(), frameBuffer.end());

    std::unique_ptr<VideoDecompressor> located;
    if (!decompressor) {
        located = VideoDecompressor::locate(*header);
        decompressor = located.get();
    }
    if (decompressor) {
        if (auto decoded = decompressor->decompress(image))
            image = std::move(*decoded);
    }
    return new StillViewer(std::move(image), title, owner, dialogs);
}

StillViewer* StillViewer::showSnapshot(std::span<const uint8_t> frameBuffer, VideoDecompressor* decompressor,
                                       int32_t channel, const std::string& channelName, QWidget* owner,
                                       DialogService& dialogs, std::time_t now) {
    StillViewer* viewer =
        create(frameBuffer, decompressor, snapshotTitle(channel, channelName, now), owner, dialogs);
    if (viewer) {
        viewer->setPictureInfo(
            {QString::asprintf("%04d ", int(channel)) + QString::fromStdString(channelName),
             QDateTime::fromSecsSinceEpoch(now)});
        viewer->sizeToImage();
        viewer->show();
    }
    return viewer;
}

StillViewer* StillViewer::showSnapshotAsIs(std::span<const uint8_t> packedDib, int32_t channel,
                                           const std::string& channelName, QWidget* owner,
                                           DialogService& dialogs, std::time_t now) {
    const auto header = BitmapInfoHeader::parse(packedDib);
    if (!header || header->biSize != BitmapInfoHeader::kSize)
        return nullptr;
    auto* viewer = new StillViewer(std::vector<uint8_t>(packedDib.begin(), packedDib.end()),
                                   snapshotTitle(channel, channelName, now), owner, dialogs);
    viewer->sizeToImage();
    viewer->show();
    return viewer;
}

QString StillViewer::snapshotTitle(int32_t channel, const std::string& channelName, std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char time[64];
    std::strftime(time, sizeof time, "%X", &local);
    return QString::asprintf("%04d ", int(channel)) + WireText::toDisplay(channelName) +
           QStringLiteral(" -- ") + QString::fromLocal8Bit(time);
}

StillViewer::StillViewer(std::vector<uint8_t> image, const QString& title, QWidget* owner,
                         DialogService& dialogs)
    : QWidget(owner, Qt::Window)
    , m_dialogs(dialogs)
    , m_image(std::move(image))
    , m_picture(dibToImage(m_image)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A viewer has no keyboard use; the snapshots of an answered call open
    // while the operator may be typing elsewhere and must not take the keys.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(title);
    setWindowIcon(QIcon(QStringLiteral(":/images/still_viewer.png")));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    m_saveAction = new QAction(tr("Save a file"), this);
    m_saveAction->setStatusTip(tr("Save a file"));
    connect(m_saveAction, &QAction::triggered, this, &StillViewer::saveFile);
    m_printAction = new QAction(tr("Print"), this);
    m_printAction->setStatusTip(tr("Print"));
    connect(m_printAction, &QAction::triggered, this, &StillViewer::print);
}

void StillViewer::sizeToImage() {
    const auto header = BitmapInfoHeader::parse(m_image);
    if (header)
        resize(std::abs(header->biWidth), std::abs(header->biHeight));
}

void StillViewer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_picture.isNull())
        painter.drawImage(rect(), m_picture);
}

void StillViewer::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(m_saveAction);
    menu.addAction(m_printAction);
    menu.exec(event->globalPos());
}

void StillViewer::saveFile() {
    if (!m_image.empty())
        saveBitmapInteractive(this, m_dialogs, m_image, m_info);
}

void StillViewer::print() {
    if (m_picture.isNull())
        return;
    QPrinter printer(QPrinter::HighResolution);
    if (!printDialogRunner()(printer, this))
        return;
    QPainter painter;
    if (painter.begin(&printer)) {
        const PrintRect r =
            placeOnPage(m_picture.width(), m_picture.height(), logicalDpiX(), logicalDpiY(),
                        printer.logicalDpiX(), printer.logicalDpiY(), printer.width(), printer.height());
        painter.drawImage(QRect(r.x, r.y, r.width, r.height), m_picture);
        painter.end();
    }
    update();
}

void StillViewer::setPrintDialogRunner(PrintDialogRunner runner) {
    printDialogRunner() = std::move(runner);
}
