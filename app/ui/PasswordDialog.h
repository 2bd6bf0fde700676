#pragma once

// "Enter password": asks for the application's user name and password, at
// start-up and before the password can be changed.
//
// How it works: the user name starts as the stored one, the password empty.
// OK closes the dialog only when both equal the stored pair; otherwise it says
// the password is not correct, puts the focus on the password and stays open
// with the typed texts kept. There is no limit on attempts.

#include <QDialog>

class AppStore;
class DialogService;
class QLineEdit;

class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 20;

    PasswordDialog(AppStore& store, DialogService& dialogs, QWidget* parent = nullptr);

    void accept() override;

private:
    AppStore& m_store;
    DialogService& m_dialogs;
    QLineEdit* m_user;
    QLineEdit* m_password;
};
