#pragma once

// The modal dialogs the main window's commands open, behind one interface so
// the main window runs headless in tests (a scripted implementation answers
// instead of a person) and the program uses the real dialogs.
//
// Every call blocks until its dialog is closed and reports only what the main
// window acts on; the dialogs store their own settings themselves.

#include "connect/RemoteChoice.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>

class ChannelTable;
class LineManager;
class QWidget;
class SettingsFollowUp;

class FrameDialogs {
public:
    virtual ~FrameDialogs() = default;

    // "Connect to local site": the dial number after "Connect", else nothing.
    virtual std::optional<QString> runConnect(QWidget* parent) = 0;
    // "Select modem" over `names` (list position = device index) with
    // `current` highlighted: the chosen index after "Select", else nothing.
    virtual std::optional<int> runSelectModem(QWidget* parent, const QStringList& names, int current,
                                              LineManager& lines) = 0;
    // The channel choice over the channel table: the chosen channel number
    // after "Open" (0 when no line was selected), else nothing.
    virtual std::optional<int32_t> runChannelChoice(QWidget* parent, const ChannelTable& channels) = 0;
    // "Remote control": which packet the operator asked for.
    virtual RemoteChoice runRemoteControl(QWidget* parent) = 0;
    // "Command": the command line after "OK", else nothing.
    virtual std::optional<QString> runCommandLine(QWidget* parent) = 0;

    virtual void runPhoneBook(QWidget* parent) = 0;
    virtual void runEventNotify(QWidget* parent) = 0;
    virtual void runClipBrowser(QWidget* parent) = 0;
    // Options and the record folder: on OK the dialog stores its values and
    // tells `followUp` what the main window has to apply.
    virtual void runOptions(QWidget* parent, SettingsFollowUp& followUp) = 0;
    virtual void runRecordPath(QWidget* parent, SettingsFollowUp& followUp) = 0;
    // "Unattended operation": true when the dialog stored new options.
    virtual bool runUnattended(QWidget* /*parent*/) { return false; }
    // "Site patrol": true when the dialog stored a new patrol.
    virtual bool runPatrolSetup(QWidget* /*parent*/) { return false; }
    // "Patrol report": the last rounds found under the record folder, given
    // as its stored text (the window resolves it off the UI thread).
    virtual void showPatrolReport(QWidget* /*parent*/, const std::string& /*recordFolder*/) {}
};

// The commands the application object handles for the main window, and the
// splash picture the main window shows while it is being made.
class AppCommands {
public:
    virtual ~AppCommands() = default;
    virtual void onAppAbout() = 0;
    virtual void onAppExit() = 0;
    virtual void onSetupPassword() = 0;
    virtual void ShowSplash(QWidget* parent) = 0;
};
