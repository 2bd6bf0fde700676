#include "app/ui/PasswordCommands.h"

#include "app/core/AppStore.h"
#include "app/ui/PasswordDialog.h"
#include "app/ui/SetupPasswordDialog.h"

bool StartupPasswordCheck(AppStore& store, DialogService& dialogs) {
    if (store.GetAppUser().empty() && store.GetAppPassword().empty())
        return true;
    PasswordDialog dialog(store, dialogs);
    return dialog.exec() == QDialog::Accepted;
}

bool runSetupPasswordCommand(QWidget* parent, AppStore& store, DialogService& dialogs) {
    if (!store.CheckAppPassword("", "")) {
        PasswordDialog check(store, dialogs, parent);
        if (check.exec() != QDialog::Accepted)
            return false;
    }
    SetupPasswordDialog setup(store, dialogs, parent);
    return setup.exec() == QDialog::Accepted;
}
