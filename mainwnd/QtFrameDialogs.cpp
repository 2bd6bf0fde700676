#include "mainwnd/QtFrameDialogs.h"

#include "app/ui/PhoneBookDialog.h"
#include "app/ui/SettingsCommands.h"
#include "clips/ui/ClipBrowserDialog.h"
#include "connect/ChannelChoiceDialog.h"
#include "connect/CommandDialog.h"
#include "connect/ConnectDialog.h"
#include "connect/RemoteControlDialog.h"
#include "connect/SelectModemDialog.h"
#include "link/LineManager.h"
#include "mainwnd/EventNotifyDialog.h"
#include "unattended/PatrolDialogs.h"
#include "unattended/UnattendedDialog.h"

std::optional<QString> QtFrameDialogs::runConnect(QWidget* parent) {
    ConnectDialog dialog(m_store, m_dialogs, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.dialNumber();
}

std::optional<int> QtFrameDialogs::runSelectModem(QWidget* parent, const QStringList& names, int current,
                                                  LineManager& lines) {
    SelectModemDialog dialog(
        names, current,
        [&lines](int device) -> std::optional<tel::DeviceIcon> {
            tel::DeviceIcon icon;
            if (!lines.lineIcon(device, icon))
                return std::nullopt;
            return icon;
        },
        parent);
    dialog.enableNetworkModems(m_store, m_dialogs);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedIndex() < 0)
        return std::nullopt;
    return dialog.selectedIndex();
}

std::optional<int32_t> QtFrameDialogs::runChannelChoice(QWidget* parent, const ChannelTable& channels) {
    ChannelChoiceDialog dialog(channels, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.channel();
}

RemoteChoice QtFrameDialogs::runRemoteControl(QWidget* parent) {
    RemoteControlDialog dialog(parent);
    dialog.exec();
    return dialog.choice();
}

std::optional<QString> QtFrameDialogs::runCommandLine(QWidget* parent) {
    CommandDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.commandLine();
}

void QtFrameDialogs::runPhoneBook(QWidget* parent) {
    PhoneBookDialog dialog(m_store, m_dialogs, PhoneBookDialog::Mode::Edit, parent);
    dialog.exec();
}

void QtFrameDialogs::runEventNotify(QWidget* parent) {
    EventNotifyDialog dialog(m_store, m_dialogs, parent);
    dialog.exec();
}

void QtFrameDialogs::runClipBrowser(QWidget* parent) {
    ClipBrowserDialog::run(m_clips, m_dialogs, parent);
}

void QtFrameDialogs::runOptions(QWidget* parent, SettingsFollowUp& followUp) {
    runOptionsCommand(parent, m_store, m_dialogs, followUp);
}

bool QtFrameDialogs::runUnattended(QWidget* parent) {
    return UnattendedDialog::run(parent, m_store);
}

bool QtFrameDialogs::runPatrolSetup(QWidget* parent) {
    return PatrolSetupDialog::run(parent, m_store);
}

void QtFrameDialogs::showPatrolReport(QWidget* parent, const std::string& recordFolder) {
    PatrolReportWindow::showReport(parent, recordFolder, m_dialogs);
}

void QtFrameDialogs::runRecordPath(QWidget* parent, SettingsFollowUp& followUp) {
    runRecordPathCommand(parent, m_store, &m_dialogs, followUp);
}
