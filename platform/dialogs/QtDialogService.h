#pragma once

#include "platform/dialogs/DialogService.h"

// Real modal dialogs: QMessageBox with the application title as caption, and
// Qt's file dialogs.
class QtDialogService final : public DialogService {
public:
    MessageAnswer message(QWidget* parent, const QString& text, MessageButtons buttons,
                          MessageIcon icon) override;
    QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
};
