#pragma once

// Saving a picture, shared by the still viewer and the player: a save dialog
// (default name "capture", extension "bmp", the bitmap type first, PNG and
// JPEG offered beside it, overwrite prompt), then the file written. A name
// ending in ".png", ".jpg" or ".jpeg" is written in that format with the
// picture's channel label and time as text (PNG text chunks, JPEG comment);
// any other name gets a bitmap file: its 14-byte header in front of the
// packed DIB. "Save OK." appears only after every byte reached the file; a
// failed write is reported and leaves no partial file. The process's current
// directory is the same afterwards, whatever the dialog did.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <span>

class DialogService;
class QWidget;

enum class SaveResult { Saved, Cancelled, Failed };

// What a saved picture says about itself where its format allows.
struct PictureInfo {
    QString label;  // the channel label
    QDateTime time; // when the picture was taken (invalid: unknown)
};

SaveResult saveBitmapInteractive(QWidget* parent, DialogService& dialogs, std::span<const uint8_t> packedDib,
                                 const PictureInfo& info = {});

// Writes the decodable packed DIB as PNG or JPEG (by `format`, "png" or
// "jpg") with the info as text; false, leaving no file, when it cannot.
bool savePicture(const QString& fileName, const char* format, std::span<const uint8_t> packedDib,
                 const PictureInfo& info);
