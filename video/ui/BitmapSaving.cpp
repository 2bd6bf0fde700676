#include "video/ui/BitmapSaving.h"

#include "platform/bitmap/BitmapFile.h"
#include "platform/dialogs/DialogService.h"
#include "res/StringTable.h"
#include "video/ui/DibImage.h"

#include <QDir>
#include <QImageWriter>
#include <QSaveFile>

namespace {

// "png" or "jpg" for names that ask for those formats; nothing for a bitmap.
const char* pictureFormat(const QString& fileName) {
    if (fileName.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        return "png";
    if (fileName.endsWith(QStringLiteral(".jpg"), Qt::CaseInsensitive) ||
        fileName.endsWith(QStringLiteral(".jpeg"), Qt::CaseInsensitive))
        return "jpg";
    return nullptr;
}

} // namespace

bool savePicture(const QString& fileName, const char* format, std::span<const uint8_t> packedDib,
                 const PictureInfo& info) {
    QImage picture = dibToImage(packedDib);
    if (picture.isNull())
        return false;
    // Texts set on the image itself reach PNG text chunks and JPEG comments
    // whole; values holding ":" do not survive the writer's own text list.
    if (!info.label.isEmpty())
        picture.setText(QStringLiteral("Title"), info.label);
    if (info.time.isValid())
        picture.setText(QStringLiteral("Creation Time"), info.time.toString(Qt::ISODate));
    picture.setText(QStringLiteral("Software"), loadString(IDS_APP_TITLE));
    // QSaveFile writes beside the target and renames on commit, so a failed
    // write never leaves a partial picture.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, format);
    if (qstrcmp(format, "jpg") == 0)
        writer.setQuality(92);
    if (!writer.write(picture)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

SaveResult saveBitmapInteractive(QWidget* parent, DialogService& dialogs, std::span<const uint8_t> packedDib,
                                 const PictureInfo& info) {
    const QString currentDir = QDir::currentPath();
    FileDialogRequest request;
    // The whole name, so that the overwrite question is asked for the real
    // file name by native file dialogs too.
    request.defaultName = QStringLiteral("capture.bmp");
    request.defaultSuffix = QStringLiteral("bmp");
    request.filter = loadString(IDS_PICTURE_FILTER);
    request.confirmOverwrite = true;
    const QString fileName = dialogs.saveFileName(parent, request);
    QDir::setCurrent(currentDir);
    if (fileName.isEmpty())
        return SaveResult::Cancelled;

    const char* format = pictureFormat(fileName);
    const bool saved = format ? savePicture(fileName, format, packedDib, info)
                              : BitmapFile::save(QFile::encodeName(fileName).toStdString(), packedDib);
    if (!saved) {
        dialogs.notice(parent, loadString(IDP_SAVE_FAILED));
        return SaveResult::Failed;
    }
    dialogs.notice(parent, loadString(IDP_SAVE_OK));
    return SaveResult::Saved;
}
