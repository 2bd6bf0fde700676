#pragma once

// "Remote control": close the site's program, reboot the site, or have it
// run a command line. Each of the three buttons closes the dialog at once
// with its choice; "&Q.Exit" (the default button) and Escape close it with
// RemoteChoice::None. Controls: button1077, button1078, button1079, button1.

#include "connect/RemoteChoice.h"

class PacketQueue;

#include <QDialog>

class RemoteControlDialog : public QDialog {
    Q_OBJECT
public:
    explicit RemoteControlDialog(QWidget* parent = nullptr);

    // The button that closed the dialog; None until then.
    RemoteChoice choice() const { return m_choice; }

    // The whole command (Ctrl+Shift+F10): only while `connected` and with a
    // port, this dialog and, for RunProgram, the command dialog, then the
    // packet. True when one was queued.
    static bool run(QWidget* parent, bool connected, PacketQueue* port);

private:
    void choose(RemoteChoice choice);

    RemoteChoice m_choice = RemoteChoice::None;
};
