#include "platform/dialogs/QtDialogService.h"

#include "res/StringTable.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include <memory>

namespace {

QMessageBox::Icon toQt(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Exclamation:
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QFileDialog* makeFileDialog(QWidget* parent, const FileDialogRequest& request) {
    auto* dialog = new QFileDialog(parent, request.title, request.directory, request.filter);
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    if (!request.defaultSuffix.isEmpty()) {
        dialog->setDefaultSuffix(request.defaultSuffix);
        // With several file types, a name typed without extension takes the
        // chosen type's.
        QObject::connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& filter) {
            static const QRegularExpression extension(QStringLiteral("\\*\\.(\\w+)"));
            const QRegularExpressionMatch match = extension.match(filter);
            if (match.hasMatch())
                dialog->setDefaultSuffix(match.captured(1));
        });
    }
    if (!request.defaultName.isEmpty())
        dialog->selectFile(request.defaultName);
    return dialog;
}

} // namespace

MessageAnswer QtDialogService::message(QWidget* parent, const QString& text, MessageButtons buttons,
                                       MessageIcon icon) {
    QMessageBox box(toQt(icon), loadString(IDS_APP_TITLE), text, QMessageBox::NoButton, parent);
    switch (buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return MessageAnswer::Ok;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    return MessageAnswer::Cancel;
}

QString QtDialogService::saveFileName(QWidget* parent, const FileDialogRequest& request) {
    std::unique_ptr<QFileDialog> dialog(makeFileDialog(parent, request));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().constFirst();
}

QString QtDialogService::openFileName(QWidget* parent, const FileDialogRequest& request) {
    std::unique_ptr<QFileDialog> dialog(makeFileDialog(parent, request));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return {};
    return dialog->selectedFiles().constFirst();
}
