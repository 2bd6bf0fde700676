#include "app/ui/SettingsCommands.h"

#include "app/core/AppStore.h"
#include "app/ui/OptionsDialog.h"
#include "app/ui/RecordPathDialog.h"

bool runOptionsCommand(QWidget* parent, AppStore& store, DialogService& dialogs, SettingsFollowUp& followUp) {
    OptionsDialog dialog(store, dialogs, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    followUp.diskWatchChanged(dialog.values().lowSpaceMB, dialog.values().checkSeconds);
    if (store.videoArrange())
        followUp.arrangeWindows();
    return true;
}

bool runRecordPathCommand(QWidget* parent, AppStore& store, SettingsFollowUp& followUp) {
    return runRecordPathCommand(parent, store, nullptr, followUp);
}

bool runRecordPathCommand(QWidget* parent, AppStore& store, DialogService* dialogs,
                          SettingsFollowUp& followUp) {
    RecordPathDialog dialog(store, parent);
    dialog.setDialogs(dialogs);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    followUp.recordFolderChanged();
    return true;
}
