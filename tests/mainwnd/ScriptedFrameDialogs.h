#pragma once

// The main window's dialogs answered from a script: each call is counted, and
// answers come from the fields set beforehand (nothing = cancelled).

#include "app/ui/SettingsCommands.h"
#include "mainwnd/FrameDialogs.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

class ScriptedFrameDialogs final : public FrameDialogs {
public:
    std::optional<QString> dialNumber;
    std::optional<int> modem;
    // Runs inside Select modem, as the operator's edits of the network modem list.
    std::function<void()> whileSelectingModem;
    // Answers the channel choice; the default picks nothing.
    std::function<std::optional<int32_t>(const ChannelTable&)> channelChoice;
    RemoteChoice remote = RemoteChoice::None;
    std::optional<QString> commandLine;
    // Options confirmed with these values when set.
    std::optional<std::pair<uint32_t, uint32_t>> options;
    QStringList calls;
    QStringList modemNames;

    std::optional<QString> runConnect(QWidget*) override {
        calls << "Connect";
        return dialNumber;
    }
    std::optional<int> runSelectModem(QWidget*, const QStringList& names, int, LineManager&) override {
        calls << "SelectModem";
        modemNames = names;
        if (whileSelectingModem)
            whileSelectingModem();
        return modem;
    }
    std::optional<int32_t> runChannelChoice(QWidget*, const ChannelTable& channels) override {
        calls << "ChannelChoice";
        return channelChoice ? channelChoice(channels) : std::nullopt;
    }
    RemoteChoice runRemoteControl(QWidget*) override {
        calls << "RemoteControl";
        return remote;
    }
    std::optional<QString> runCommandLine(QWidget*) override {
        calls << "CommandLine";
        return commandLine;
    }
    void runPhoneBook(QWidget*) override { calls << "PhoneBook"; }
    void runEventNotify(QWidget*) override { calls << "EventNotify"; }
    void runClipBrowser(QWidget*) override { calls << "ClipBrowser"; }
    void runOptions(QWidget*, SettingsFollowUp& followUp) override {
        calls << "Options";
        if (options)
            followUp.diskWatchChanged(options->first, options->second);
    }
    void runRecordPath(QWidget*, SettingsFollowUp& followUp) override {
        calls << "RecordPath";
        followUp.recordFolderChanged();
    }
};

// The application's commands, counted.
class CountingAppCommands final : public AppCommands {
public:
    int about = 0, exits = 0, passwords = 0, splashes = 0;
    void onAppAbout() override { ++about; }
    void onAppExit() override { ++exits; }
    void onSetupPassword() override { ++passwords; }
    void ShowSplash(QWidget*) override { ++splashes; }
};
