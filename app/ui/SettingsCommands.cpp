#include "app/ui/SettingsCommands.h"

#include "app/core/AppStore.h"
#include "app/ui/OptionsDialog.h"
#include "app/ui/RecordPathDialog.h"

bool RunOptionsCommand(QWidget* parent, AppStore& store, DialogService& dialogs, SettingsFollowUp& followUp) {
    OptionsDialog dialog(store, dialogs, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    followUp.diskWatchChanged(dialog.values().lowSpaceMB, dialog.values().checkSeconds);
    if (store.GetVideoArrange())
        followUp.arrangeWindows();
    return true;
}

bool RunRecordPathCommand(QWidget* parent, AppStore& store, SettingsFollowUp& followUp) {
    return RunRecordPathCommand(parent, store, nullptr, followUp);
}

bool RunRecordPathCommand(QWidget* parent, AppStore& store, DialogService* dialogs,
                          SettingsFollowUp& followUp) {
    RecordPathDialog dialog(store, parent);
    dialog.setDialogs(dialogs);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    followUp.recordFolderChanged();
    return true;
}
