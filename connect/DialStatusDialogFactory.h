#pragma once

// Opens the dialing status window for the line control, over the main
// window, and carries out its "Hang up" by dropping the call.
//
// The main window makes one and gives the same LineManager the factory is
// given (the factory may be made before the LineManager it names, as long as
// no window is opened before that exists). "Hang up" drops the call from the
// event loop, after the click has been handled, because dropping the call
// destroys the window. The main window must outlive the LineManager.

#include "connect/DialStatusDialog.h"
#include "link/DialStatusWindow.h"

#include <QObject>
#include <QPointer>

class LineManager;
class QWidget;

class DialStatusDialogFactory final : public DialStatusFactory {
public:
    DialStatusDialogFactory(QWidget* mainWindow, LineManager& lines, int animationMs = 250);

    std::unique_ptr<DialStatusWindow> openDialStatus(const QString& number, const QString& status) override;

    // The window open now, or null.
    DialStatusDialog* openWindow() const { return m_open; }

private:
    QWidget* m_mainWindow;
    LineManager& m_lines;
    int m_animationMs;
    QObject m_context; // pending hang-ups die with the factory
    QPointer<DialStatusDialog> m_open;
};
