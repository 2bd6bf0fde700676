#pragma once

// "Connect to local site": user name, password, dial number, image size and
// quality for the next call, stored as the "Call" values.
//
// How it works: the form opens with the stored values (ConnectForm).
// "Co&nnect" checks the user name and the dial number (a missing one shows
// its message and takes the focus), stores all six values and closes with
// Accepted; the caller then dials dialNumber(). "&Apply" stores them without
// checks and stays open. "Phone book" opens the phone book in select mode and
// takes the chosen entry's name, password and number. "Add \ndirectory"
// asks, then files the fields as a phone book entry. Store failures are not
// reported. Controls are named "<kind><id>" (edit1021, combo1005,
// slider1006, label1007, check1002, button1, button1070, button2,
// button1020, button1024).

#include "connect/ConnectForm.h"

#include <QDialog>
#include <QLineEdit>

class AppStore;
class DialogService;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

class ConnectDialog : public QDialog {
    Q_OBJECT
public:
    ConnectDialog(AppStore& store, DialogService& dialogs, QWidget* parent = nullptr);

    // The dial number as stored by "Co&nnect".
    QString dialNumber() const { return m_dial->text(); }
    // The dialog's copy of the slider position.
    int quality() const { return m_quality; }

    void accept() override;

private:
    ConnectForm::Fields fields() const;
    void store();
    void onSliderAction(int action);
    void refreshQualityFromSlider();
    void openPhoneBook();
    void addToDirectory();

    AppStore& m_store;
    DialogService& m_dialogs;
    int m_quality = 0;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_dial;
    QComboBox* m_imageSize;
    QSlider* m_slider;
    QLabel* m_qualityLabel;
    QCheckBox* m_savePassword;
};
