#pragma once

// The program's real dialogs behind the main window's commands.

#include "mainwnd/FrameDialogs.h"

class AppStore;
class ClipIndex;
class DialogService;

class QtFrameDialogs final : public FrameDialogs {
public:
    QtFrameDialogs(AppStore& store, ClipIndex& clips, DialogService& dialogs)
        : m_store(store)
        , m_clips(clips)
        , m_dialogs(dialogs) {}

    std::optional<QString> RunConnect(QWidget* parent) override;
    std::optional<int> RunSelectModem(QWidget* parent, const QStringList& names, int current,
                                      LineManager& lines) override;
    std::optional<int32_t> RunChannelChoice(QWidget* parent, const ChannelTable& channels) override;
    RemoteChoice RunRemoteControl(QWidget* parent) override;
    std::optional<QString> RunCommandLine(QWidget* parent) override;
    void RunPhoneBook(QWidget* parent) override;
    void RunEventNotify(QWidget* parent) override;
    void RunClipBrowser(QWidget* parent) override;
    void RunOptions(QWidget* parent, SettingsFollowUp& followUp) override;
    void RunRecordPath(QWidget* parent, SettingsFollowUp& followUp) override;
    bool RunUnattended(QWidget* parent) override;
    bool RunPatrolSetup(QWidget* parent) override;
    void ShowPatrolReport(QWidget* parent, const std::string& recordFolder) override;

private:
    AppStore& m_store;
    ClipIndex& m_clips;
    DialogService& m_dialogs;
};
