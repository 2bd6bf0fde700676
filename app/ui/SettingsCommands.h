#pragma once

// The Options and "Setup video record path" commands of the main window: run
// the dialog, and after OK have the main window apply what changed.
//
// How it works: the main window implements SettingsFollowUp. After Options it
// is told the new disk threshold and check period (it restarts its disk-check
// timer with the period and shows the low-disk warning again when the space
// is still low) and, when automatic arrangement is on, to arrange the video
// windows. After a new record folder it re-reads the record volume and
// refreshes its free-space text. Cancel changes nothing.

#include <cstdint>

class AppStore;
class DialogService;
class QWidget;

class SettingsFollowUp {
public:
    virtual ~SettingsFollowUp() = default;
    // Threshold 0 switches the low-disk warning off until the program ends.
    virtual void diskWatchChanged(uint32_t thresholdMB, uint32_t checkSeconds) = 0;
    virtual void arrangeWindows() = 0;
    virtual void recordFolderChanged() = 0;
};

// Both return true when the dialog ended with OK.
bool runOptionsCommand(QWidget* parent, AppStore& store, DialogService& dialogs, SettingsFollowUp& followUp);
bool runRecordPathCommand(QWidget* parent, AppStore& store, SettingsFollowUp& followUp);
// The same, telling the operator through `dialogs` when a folder is refused.
bool runRecordPathCommand(QWidget* parent, AppStore& store, DialogService* dialogs,
                          SettingsFollowUp& followUp);
