#pragma once

// The application password at start-up and the "Setup password" command.
//
// How it works: nothing is asked while the stored user name and password are
// both empty. Otherwise the password dialog must end with OK (it does so only
// for the stored pair) before the program starts, or before the set-up dialog
// opens; Cancel there ends the start or the command. The set-up dialog stores
// its pair itself.

class AppStore;
class DialogService;
class QWidget;

// True when the program may start: no password is stored, or the operator
// entered the stored pair. The dialog has no owner window; none exists yet.
bool StartupPasswordCheck(AppStore& store, DialogService& dialogs);

// Runs the Setup password command; true when the set-up dialog ended with OK.
bool runSetupPasswordCommand(QWidget* parent, AppStore& store, DialogService& dialogs);
