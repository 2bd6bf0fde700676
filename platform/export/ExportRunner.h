#pragma once

// The operator's side of an export, shared by the clips browser, the search
// dialog and the player: a file dialog (MP4 by default, MKV by its type or
// extension), then the export on a worker thread behind a progress dialog
// with the percentage, the time left and Cancel, then one notice with the
// outcome. The window's event loop keeps running throughout, so live video
// goes on; the progress dialog is window-modal.
//
// How it works: ExportClipsInteractive builds the request, starts an
// ExportJob and waits in a local event loop for its finished signal; Cancel
// raises the job's abort flag. Warnings about skipped clips go to the log;
// a cancelled export shows nothing and leaves no file.

#include "platform/export/ClipExporter.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

class DialogService;
class QWidget;

// The file name the dialog proposes: the label's letters and digits, then the
// first clip's local start "yyyyMMdd-hhmmss".
QString exportDefaultName(const ExportPlan& plan);
// The format for a chosen file name: MKV for ".mkv", MP4 otherwise.
ExportFormat exportFormatFor(const QString& fileName);

// Returns the job's outcome; Cancelled when the operator cancelled either
// dialog; NothingToExport, after its notice, for a plan without clips.
ExportResult::Status exportClipsInteractive(QWidget* parent, DialogService& dialogs, const ExportPlan& plan);
