#pragma once

// "Setup password": sets, changes or removes the application's user name and
// password.
//
// How it works: the fields start with the stored user name and the stored
// password in both password fields (hidden). Reset empties all three on screen
// and stores nothing. OK stores the pair when a user name is given and the two
// passwords agree; with everything empty it stores the empty pair, which
// removes the protection. A password typed without a user name, or two
// passwords that differ, are refused with a message and the focus on the
// field to correct.

#include <QDialog>

class AppStore;
class DialogService;
class QLineEdit;

class SetupPasswordDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 20;

    SetupPasswordDialog(AppStore& store, DialogService& dialogs, QWidget* parent = nullptr);

    void accept() override;

private:
    void reset();

    AppStore& m_store;
    DialogService& m_dialogs;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_confirm;
};
