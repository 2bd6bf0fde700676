#pragma once

// Saving a picture as a bitmap file, shared by the still viewer and the
// player: a save dialog (default name "capture", extension "bmp", filter
// "Bitmap file (*.bmp)", overwrite prompt), then the file written with its
// 14-byte header in front of the packed DIB. "Save OK." appears only after
// every byte reached the file; a failed write is reported and leaves no
// partial file. The process's current directory is the same afterwards,
// whatever the dialog did.

#include <cstdint>
#include <span>

class DialogService;
class QWidget;

enum class SaveResult { Saved, Cancelled, Failed };

SaveResult SaveBitmapInteractive(QWidget* parent, DialogService& dialogs, std::span<const uint8_t> packedDib);
