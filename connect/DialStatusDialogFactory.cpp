#include "connect/DialStatusDialogFactory.h"

#include "connect/DialStatusDialog.h"
#include "link/LineManager.h"

DialStatusDialogFactory::DialStatusDialogFactory(QWidget* mainWindow, LineManager& lines, int animationMs)
    : m_mainWindow(mainWindow)
    , m_lines(lines)
    , m_animationMs(animationMs) {}

std::unique_ptr<DialStatusWindow> DialStatusDialogFactory::openDialStatus(const QString& number,
                                                                          const QString& status) {
    auto dialog = std::make_unique<DialStatusDialog>(number, status, m_mainWindow, m_animationMs);
    QObject::connect(
        dialog.get(), &DialStatusDialog::hangUpRequested, &m_context, [this] { m_lines.DropCall(); },
        Qt::QueuedConnection);
    m_open = dialog.get();
    dialog->present();
    return dialog;
}
