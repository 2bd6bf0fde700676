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

std::optional<QString> QtFrameDialogs::RunConnect(QWidget* parent) {
    ConnectDialog dialog(m_store, m_dialogs, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.dialNumber();
}

std::optional<int> QtFrameDialogs::RunSelectModem(QWidget* parent, const QStringList& names, int current,
                                                  LineManager& lines) {
    SelectModemDialog dialog(
        names, current,
        [&lines](int device) -> std::optional<tel::DeviceIcon> {
            tel::DeviceIcon icon;
            if (!lines.GetLineIcon(device, icon))
                return std::nullopt;
            return icon;
        },
        parent);
    dialog.EnableNetworkModems(m_store, m_dialogs);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedIndex() < 0)
        return std::nullopt;
    return dialog.selectedIndex();
}

std::optional<int32_t> QtFrameDialogs::RunChannelChoice(QWidget* parent, const ChannelTable& channels) {
    ChannelChoiceDialog dialog(channels, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.channel();
}

RemoteChoice QtFrameDialogs::RunRemoteControl(QWidget* parent) {
    RemoteControlDialog dialog(parent);
    dialog.exec();
    return dialog.choice();
}

std::optional<QString> QtFrameDialogs::RunCommandLine(QWidget* parent) {
    CommandDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.commandLine();
}

void QtFrameDialogs::RunPhoneBook(QWidget* parent) {
    PhoneBookDialog dialog(m_store, m_dialogs, PhoneBookDialog::Mode::Edit, parent);
    dialog.exec();
}

void QtFrameDialogs::RunEventNotify(QWidget* parent) {
    EventNotifyDialog dialog(m_store, m_dialogs, parent);
    dialog.exec();
}

void QtFrameDialogs::RunClipBrowser(QWidget* parent) {
    ClipBrowserDialog::run(m_clips, m_dialogs, parent);
}

void QtFrameDialogs::RunOptions(QWidget* parent, SettingsFollowUp& followUp) {
    RunOptionsCommand(parent, m_store, m_dialogs, followUp);
}

bool QtFrameDialogs::RunUnattended(QWidget* parent) {
    return UnattendedDialog::Run(parent, m_store);
}

bool QtFrameDialogs::RunPatrolSetup(QWidget* parent) {
    return PatrolSetupDialog::Run(parent, m_store);
}

void QtFrameDialogs::ShowPatrolReport(QWidget* parent, const std::string& recordFolder) {
    PatrolReportWindow::Show(parent, recordFolder, m_dialogs);
}

void QtFrameDialogs::RunRecordPath(QWidget* parent, SettingsFollowUp& followUp) {
    RunRecordPathCommand(parent, m_store, &m_dialogs, followUp);
}
