#include "BitmapSaving.h"

#include "BitmapFile.h"
#include "DialogService.h"
#include "StringTable.h"

#include <QDir>

SaveResult SaveBitmapInteractive(QWidget* parent, DialogService& dialogs,
                                 std::span<const uint8_t> packedDib) {
    const QString currentDir = QDir::currentPath();
    FileDialogRequest request;
    // The whole name, so that the overwrite question is asked for the real
    // file name by native file dialogs too.
    request.defaultName = QStringLiteral("capture.bmp");
    request.defaultSuffix = QStringLiteral("bmp");
    request.filter = QStringLiteral("Bitmap file (*.bmp)");
    request.confirmOverwrite = true;
    const QString fileName = dialogs.saveFileName(parent, request);
    QDir::setCurrent(currentDir);
    if (fileName.isEmpty())
        return SaveResult::Cancelled;

    if (!BitmapFile::save(QFile::encodeName(fileName).toStdString(), packedDib)) {
        dialogs.notice(parent, LoadString(IDP_SAVE_FAILED));
        return SaveResult::Failed;
    }
    dialogs.notice(parent, LoadString(IDP_SAVE_OK));
    return SaveResult::Saved;
}
