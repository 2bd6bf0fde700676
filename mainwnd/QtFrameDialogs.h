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

    std::optional<QString> runConnect(QWidget* parent) override;
    std::optional<int> runSelectModem(QWidget* parent, const QStringList& names, int current,
                                      LineManager& lines) override;
    std::optional<int32_t> runChannelChoice(QWidget* parent, const ChannelTable& channels) override;
    RemoteChoice runRemoteControl(QWidget* parent) override;
    std::optional<QString> runCommandLine(QWidget* parent) override;
    void runPhoneBook(QWidget* parent) override;
    void runEventNotify(QWidget* parent) override;
    void runClipBrowser(QWidget* parent) override;
    void runOptions(QWidget* parent, SettingsFollowUp& followUp) override;
    void runRecordPath(QWidget* parent, SettingsFollowUp& followUp) override;
    bool runUnattended(QWidget* parent) override;
    bool runPatrolSetup(QWidget* parent) override;
    void showPatrolReport(QWidget* parent, const std::string& recordFolder) override;

private:
    AppStore& m_store;
    ClipIndex& m_clips;
    DialogService& m_dialogs;
};
